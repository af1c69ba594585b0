// The reliability campaign: the helper's endings, crashes and races, run many times under
// Wine with random choices, counted and printed as a table. Asserts nothing and is no test;
// run by hand: scripts/reliability.sh [scale] [seed] [campaign...].
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/win32.h"
#include "campaigns.h"

namespace {

struct NamedCampaign {
    const char* name;
    void (*run)(Campaign&);
};

constexpr NamedCampaign kCampaigns[] = {
    {"host-endings", RunHostEndings},         {"proxy-kills", RunProxyKills},
    {"enable-races", RunEnableRaces},         {"stale-logons", RunStaleLogons},
    {"state-file-readers", RunStateFileReaders},
    {"snapshot-decoding", RunSnapshotDecoding},     {"call-failures", RunCallFailures},
    {"call-failures-sample", RunCallFailureSample},
};

int Usage() {
    std::printf("usage: keldrix-reliability <scale> <seed> [campaign...]\ncampaigns:");
    for (const NamedCampaign& campaign : kCampaigns) std::printf(" %s", campaign.name);
    std::printf("\n");
    return 2;
}

const NamedCampaign* Find(const char* name) {
    for (const NamedCampaign& campaign : kCampaigns) {
        if (std::strcmp(campaign.name, name) == 0) return &campaign;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const int scale = std::atoi(argv[1]);
    const uint64_t seed = std::strtoull(argv[2], nullptr, 10);
    if (scale < 1) return Usage();
    std::vector<const NamedCampaign*> chosen;
    for (int i = 3; i < argc; ++i) {
        if (Find(argv[i]) == nullptr) return Usage();
        chosen.push_back(Find(argv[i]));
    }
    if (chosen.empty()) {
        // The sample is part of the whole call-failures campaign.
        for (const NamedCampaign& campaign : kCampaigns) {
            if (std::strcmp(campaign.name, "call-failures-sample") != 0) chosen.push_back(&campaign);
        }
    }
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    Campaign::PrintHeader();
    bool passed = true;
    for (const NamedCampaign* named : chosen) {
        Campaign campaign(named->name, scale, seed);
        named->run(campaign);
        passed = passed && campaign.Passed();
    }
    std::printf("\n%s\n", passed ? "every figure that must be 0 is 0" : "SOME FIGURES THAT MUST BE 0 ARE NOT");
    return passed ? 0 : 1;
}
