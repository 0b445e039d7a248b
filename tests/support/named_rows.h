#pragma once
// Rows of a parameterised table name their tests, and print in a failure, by their `name`.
// Bring PrintTo into the rows' namespace (`using named_rows::PrintTo;`) so gtest finds it.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace named_rows {

template <class Row>
    requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

inline constexpr auto RowName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace named_rows
