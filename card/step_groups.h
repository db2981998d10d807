// The shape of a plan as the front ends list it: steps that share a reason
// gathered with their blocks (or pages), and those as runs such as "1-2, 6"
// that each front end joins in its own way.
#pragma once

#include <algorithm>
#include <span>
#include <vector>

namespace zelkor::card {

struct NumberRange {
    int first = 0;
    int last = 0;  // == first for a single number
    bool operator==(const NumberRange &) const = default;
};

// Runs of numbers that each follow the one before, in the order given.
std::vector<NumberRange> RangesOf(std::span<const int> numbers);

// `step` is the first of the group; `numbers` are the blocks or pages of all.
template <class Step>
struct StepGroup {
    const Step *step = nullptr;
    std::vector<int> numbers;
};

// The steps `include` accepts, each joined to the group of the first step it
// is `same` as, in the order the groups first appear.
template <class Step, class Include, class Same, class Number>
std::vector<StepGroup<Step>> GroupSteps(std::span<const Step> steps, Include include, Same same, Number number) {
    std::vector<StepGroup<Step>> groups;
    for (const Step &step : steps) {
        if (!include(step)) continue;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const StepGroup<Step> &g) { return same(*g.step, step); });
        if (group == groups.end()) group = groups.insert(groups.end(), StepGroup<Step>{&step, {}});
        group->numbers.push_back(number(step));
    }
    return groups;
}

}  // namespace zelkor::card
