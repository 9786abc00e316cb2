#pragma once

#include <QTest>

// A row of the data table being built, its values in the order of the
// columns. A call's arguments are packed onto few lines, where clang-format
// breaks a chain of << between every two strings.
template<typename... Values>
void Row(const char *name, const Values &...values)
{
    (QTest::newRow(name) << ... << values);
}
