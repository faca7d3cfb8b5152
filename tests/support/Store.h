#pragma once
// What a session's message store holds, as the tests compare it (header only: for the test
// executables that link mailbox).

#include <vector>

#include "mailbox/MessageStore.h"

namespace testsupport {

// The numbers of the records not deleted, in the store's order.
inline std::vector<int> Listed(const TMessageStore& store)
{
    std::vector<int> numbers;
    for (int row = 0; row < store.Count(); ++row)
        if (!store.At(row).Deleted)
            numbers.push_back(store.At(row).Number);
    return numbers;
}

// How many records have their header.
inline int Headers(const TMessageStore& store)
{
    int known = 0;
    for (int row = 0; row < store.Count(); ++row)
        known += store.At(row).HeaderKnown;
    return known;
}

} // namespace testsupport
