// Mutated proxy state files (of both layouts, with an id and an earlier version's without) and
// mutated records of live snapshots through the helper's own decoders and encoders, in this
// process: every one must either decode to an exact round trip (encoding the result gives the
// same bytes back) or be refused with error 13. A crash ends the program; it says where first.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

#include "base/win32.h"
#include "campaigns.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"

namespace {

constexpr size_t kFilesPerScale = 100000;
constexpr size_t kRecordsPerScale = 20000;
constexpr size_t kMagicBytes = sizeof(kProxySnapshotMagic) - 1;
constexpr size_t kIdBytes = sizeof(SnapshotId::bytes);

// Where the crash handler finds what to report.
Campaign* runningCampaign = nullptr;
size_t currentFile = 0;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", exception->ExceptionRecord->ExceptionCode);
    runningCampaign->Note(currentFile, std::string("the decoder crashed with exception ") + code);
    runningCampaign->ZeroRow("crashes", 1);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

WideString RandomText(Campaign& campaign) {
    const uint32_t shape = campaign.Uniform(0, 19);
    size_t length = campaign.Uniform(0, 40);
    if (shape == 0) length = 0;
    if (shape == 1) length = kMaxSnapshotTextUnits - campaign.Uniform(0, 2);
    WideString text(length, L'\0');
    for (wchar_t& unit : text) unit = static_cast<wchar_t>(campaign.Uniform(1, 0xFFFF));
    return text;
}

SnapshotId RandomId(Campaign& campaign) {
    SnapshotId id;
    for (unsigned char& byte : id.bytes) byte = static_cast<unsigned char>(campaign.Uniform(0, 255));
    return id;
}

// With an id, or in half the cases an earlier version's without.
ProxySnapshot RandomSnapshot(Campaign& campaign, bool withId) {
    ProxySnapshot snapshot;
    snapshot.flags = static_cast<uint32_t>(campaign.Random()());
    snapshot.appliedProxyServer = L"127.0.0.1:" + std::to_wstring(campaign.Uniform(1024, 65535));
    snapshot.proxyServer = RandomText(campaign);
    snapshot.bypassList = RandomText(campaign);
    snapshot.autoConfigUrl = RandomText(campaign);
    if (withId) snapshot.id = RandomId(campaign);
    return snapshot;
}

ByteString RandomValidFile(Campaign& campaign) { return EncodeProxySnapshot(RandomSnapshot(campaign, campaign.Chance(0.5))); }

// Up to three live snapshots, each under an id of its own, at paths of any length.
ByteString RandomValidRecord(Campaign& campaign) {
    SnapshotRecord record;
    for (uint32_t count = campaign.Uniform(0, 3); count > 0; --count) {
        record.push_back({RandomText(campaign), RandomSnapshot(campaign, true)});
        record.back().snapshot.id->bytes[0] = static_cast<unsigned char>(count);
    }
    return EncodeSnapshotRecord(record);
}

// Where the four length fields of a valid file start.
std::vector<size_t> LengthOffsets(const ByteString& valid) {
    std::vector<size_t> offsets;
    const bool withId = valid.starts_with(kProxySnapshotMagic);
    size_t at = kMagicBytes + (withId ? kIdBytes : 0) + 4;
    for (int field = 0; field < 4 && at + 4 <= valid.size(); ++field) {
        offsets.push_back(at);
        uint32_t length = 0;
        for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(valid[at + i]);
        at += 4 + length;
    }
    return offsets;
}

void WriteUnsigned32(ByteString& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t EdgeLength(Campaign& campaign, const ByteString& bytes, size_t at) {
    const uint32_t remaining = static_cast<uint32_t>(bytes.size() - std::min(bytes.size(), at + 4));
    const uint32_t edges[] = {0,          1,          2,          3,          kMaxSnapshotFieldBytes - 1,
                              kMaxSnapshotFieldBytes, kMaxSnapshotFieldBytes + 1, kMaxSnapshotFieldBytes + 2,
                              0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu,
                              remaining,  remaining + 1, remaining + 2, remaining - 1, remaining - 2};
    return edges[campaign.Uniform(0, static_cast<uint32_t>(std::size(edges) - 1))];
}

void Mutate(Campaign& campaign, ByteString& bytes, const std::vector<size_t>& lengthOffsets) {
    const size_t size = bytes.size();
    const auto anywhere = [&] { return size == 0 ? 0 : campaign.Uniform(0, static_cast<uint32_t>(size - 1)); };
    switch (campaign.Uniform(0, 7)) {
        case 0:
            if (size > 0) bytes[anywhere()] ^= static_cast<char>(1u << campaign.Uniform(0, 7));
            break;
        case 1:
            if (size > 0) bytes[anywhere()] = static_cast<char>(campaign.Uniform(0, 255));
            break;
        case 2: bytes.resize(campaign.Uniform(0, static_cast<uint32_t>(size))); break;
        case 3:
            for (uint32_t n = campaign.Uniform(1, 16); n > 0; --n) {
                bytes.push_back(static_cast<char>(campaign.Uniform(0, 255)));
            }
            break;
        case 4:
            bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(campaign.Uniform(0, static_cast<uint32_t>(size))),
                         campaign.Uniform(1, 8), static_cast<char>(campaign.Uniform(0, 255)));
            break;
        case 5:
            if (size > 0) {
                const size_t from = anywhere();
                bytes.erase(from, campaign.Uniform(1, static_cast<uint32_t>(std::min<size_t>(size - from, 64))));
            }
            break;
        case 6:
            if (!lengthOffsets.empty()) {
                const size_t at = lengthOffsets[campaign.Uniform(0, static_cast<uint32_t>(lengthOffsets.size() - 1))];
                WriteUnsigned32(bytes, at, EdgeLength(campaign, bytes, at));
            }
            break;
        default:
            if (size > 8) {
                const size_t from = anywhere();
                const ByteString chunk = bytes.substr(from, campaign.Uniform(1, 16));
                bytes.insert(campaign.Uniform(0, static_cast<uint32_t>(size)), chunk);
            }
            break;
    }
}

std::string Hex(const ByteString& bytes) {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < bytes.size() && i < 64; ++i) {
        std::snprintf(digits, sizeof(digits), "%02x", static_cast<unsigned char>(bytes[i]));
        hex += digits;
    }
    return bytes.size() > 64 ? hex + "..." : hex;
}

struct DecodingCounts {
    uint64_t roundTrips = 0, refused = 0, notRoundTrips = 0, otherErrors = 0, otherExceptions = 0;
};

template <typename Decode, typename Encode>
void DecodeOne(Campaign& campaign, size_t item, const ByteString& bytes, DecodingCounts& counts, Decode decode,
               Encode encode) {
    try {
        if (encode(decode(bytes)) == bytes) {
            ++counts.roundTrips;
        } else {
            ++counts.notRoundTrips;
            campaign.Note(item, "decoded, but encodes to other bytes: " + Hex(bytes));
        }
    } catch (Win32Error code) {
        if (code == ERROR_INVALID_DATA) {
            ++counts.refused;
        } else {
            ++counts.otherErrors;
            campaign.Note(item, "refused with error " + std::to_string(code) + ": " + Hex(bytes));
        }
    } catch (const std::exception& exception) {
        ++counts.otherExceptions;
        campaign.Note(item, std::string("threw ") + exception.what() + ": " + Hex(bytes));
    }
}

}  // namespace

void MutateOneToFourTimes(Campaign& campaign, ByteString& bytes, const std::vector<size_t>& lengthOffsets) {
    for (uint32_t mutations = campaign.Uniform(1, 4); mutations > 0; --mutations) Mutate(campaign, bytes, lengthOffsets);
}

void RunSnapshotDecoding(Campaign& campaign) {
    runningCampaign = &campaign;
    SetUnhandledExceptionFilter(ReportCrash);
    const size_t files = kFilesPerScale * static_cast<size_t>(campaign.Scale());
    const size_t records = kRecordsPerScale * static_cast<size_t>(campaign.Scale());
    DecodingCounts counts;
    for (currentFile = 0; currentFile < files; ++currentFile) {
        ByteString bytes = RandomValidFile(campaign);
        MutateOneToFourTimes(campaign, bytes, LengthOffsets(bytes));
        DecodeOne(campaign, currentFile, bytes, counts, DecodeProxySnapshot, EncodeProxySnapshot);
    }
    DecodingCounts recordCounts;
    for (; currentFile < files + records; ++currentFile) {
        ByteString bytes = RandomValidRecord(campaign);
        MutateOneToFourTimes(campaign, bytes, {});
        DecodeOne(campaign, currentFile, bytes, recordCounts, DecodeSnapshotRecord, EncodeSnapshotRecord);
    }
    campaign.Row("mutated proxy state files decoded", std::to_string(files));
    campaign.Row("  decoded to an exact round trip", std::to_string(counts.roundTrips));
    campaign.Row("  refused with error 13", std::to_string(counts.refused));
    campaign.Row("mutated records of live snapshots decoded", std::to_string(records));
    campaign.Row("  decoded to an exact round trip", std::to_string(recordCounts.roundTrips));
    campaign.Row("  refused with error 13", std::to_string(recordCounts.refused));
    counts.notRoundTrips += recordCounts.notRoundTrips;
    counts.otherErrors += recordCounts.otherErrors;
    counts.otherExceptions += recordCounts.otherExceptions;
    campaign.ZeroRow("crashes", 0);
    campaign.ZeroRow("decoded, but not an exact round trip", counts.notRoundTrips);
    campaign.ZeroRow("refused with another error, or another exception", counts.otherErrors + counts.otherExceptions);
}
