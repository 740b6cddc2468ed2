#pragma once
// Names for the cases of parameterised tests, so that GoogleTest and CTest
// list "…/RestartRequired" rather than an index or the parameter's bytes.

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace velmarch::testing {

// Names each case after its `name` field.
struct CaseName {
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& test) const {
        return std::string(test.param.name);
    }
};

// Names cases without a field of their own, in the order of the values.
// In INSTANTIATE_TEST_SUITE_P it goes in parentheses (its braces hold commas).
class NamesInOrder {
public:
    NamesInOrder(std::initializer_list<const char*> names) : names_(names.begin(), names.end()) {}
    template <class Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& test) const {
        return test.index < names_.size() ? names_[test.index] : "Unnamed" + std::to_string(test.index);
    }

private:
    std::vector<std::string> names_;
};

// Prints a case with a `name` field by that name in failure messages; a test
// file brings it in with `using testing::PrintTo;`.
template <class Case>
requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

}  // namespace velmarch::testing
