#include "card/step_groups.h"

namespace zelkor::card {

std::vector<NumberRange> RangesOf(std::span<const int> numbers) {
    std::vector<NumberRange> ranges;
    for (const int number : numbers) {
        if (!ranges.empty() && ranges.back().last + 1 == number) {
            ranges.back().last = number;
        } else {
            ranges.push_back({number, number});
        }
    }
    return ranges;
}

}  // namespace zelkor::card
