// What every campaign of the reliability program shares: its size, a random sequence of its
// own drawn from the run's seed (the same seed replays the same choices, whichever campaigns
// run), and the rows it adds to the table.
#pragma once

#include <cstdint>
#include <random>
#include <string>

class Campaign {
public:
    Campaign(std::string name, int scale, uint64_t seed);

    int Scale() const { return scale_; }
    // A whole number from `low` to `high`, both included.
    uint32_t Uniform(uint32_t low, uint32_t high);
    bool Chance(double probability);
    std::mt19937_64& Random() { return random_; }

    // A figure that is measured, with nothing it must be.
    void Row(const std::string& figure, const std::string& value);
    // A count that must be 0: any other value fails the campaign.
    void ZeroRow(const std::string& figure, uint64_t count);
    // One faulty item, printed at once, so that the seed and the item number say what to replay.
    void Note(size_t item, const std::string& what);
    bool Passed() const { return passed_; }

    // The table's header, with the same column widths as the rows.
    static void PrintHeader();

private:
    void Print(const std::string& figure, const std::string& value, const std::string& mustBe);

    std::string name_;
    int scale_;
    std::mt19937_64 random_;
    bool passed_ = true;
    bool named_ = false;
};

// "n / total" for a table cell.
std::string OutOf(uint64_t count, uint64_t total);
