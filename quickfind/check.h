#pragma once

#include <QtGlobal>

#include <sqlite3.h>

#include <cstddef>
#include <functional>
#include <vector>

/// Finding the cards the index knows wrongly: added, deleted or changed in place by someone
/// else. Chunk by chunk, comparing zl's IDs and the checksums of their columns with the
/// index's.
namespace QuickFind::Check {

/// How the comparison reads the file.
struct Options {
    /// Stop at the first card known wrongly.
    bool firstOnly = false;
    /// Each chunk in a read transaction of its own, so that a writer on another connection
    /// waits a moment at most; `between` is called between them. Outside a transaction only.
    bool ownSnapshots = false;
    std::function<void()> between;
};

/// The cards known wrongly, ascending; those among the changes still to fold in
/// (quickfind_dirty) are left out. `cards`, when given, receives the number of cards of zl.
std::vector<qint64> staleIds(sqlite3* db, const Options& options, std::size_t* cards = nullptr);

} // namespace QuickFind::Check
