#include "campaign.h"

#include <cstdio>

namespace {

constexpr int kNameWidth = 19;
constexpr int kFigureWidth = 62;
constexpr int kValueWidth = 14;

uint64_t NameHash(const std::string& name) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : name) hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

}  // namespace

Campaign::Campaign(std::string name, int scale, uint64_t seed)
    : name_(std::move(name)), scale_(scale), random_(seed ^ NameHash(name_)) {}

uint32_t Campaign::Uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random_);
}

bool Campaign::Chance(double probability) { return std::bernoulli_distribution(probability)(random_); }

void Campaign::Row(const std::string& figure, const std::string& value) { Print(figure, value, ""); }

void Campaign::ZeroRow(const std::string& figure, uint64_t count) {
    if (count != 0) passed_ = false;
    Print(figure, std::to_string(count), count == 0 ? "0" : "0  FAILED");
}

void Campaign::Note(size_t item, const std::string& what) {
    std::printf("  ! %s #%zu: %s\n", name_.c_str(), item, what.c_str());
    std::fflush(stdout);
}

void Campaign::PrintHeader() {
    std::printf("%-*s %-*s %*s  %s\n", kNameWidth, "campaign", kFigureWidth, "figure", kValueWidth, "value", "must be");
    std::printf("%s\n", std::string(kNameWidth + kFigureWidth + kValueWidth + 11, '-').c_str());
}

void Campaign::Print(const std::string& figure, const std::string& value, const std::string& mustBe) {
    std::printf("%-*s %-*s %*s  %s\n", kNameWidth, named_ ? "" : name_.c_str(), kFigureWidth, figure.c_str(),
                kValueWidth, value.c_str(), mustBe.c_str());
    named_ = true;
    std::fflush(stdout);
}

std::string OutOf(uint64_t count, uint64_t total) { return std::to_string(count) + " / " + std::to_string(total); }
