// The links inside a relocated folder travel apart from its files: taken out of
// the source before the move (so that no move goes through them or moves their
// targets), then made again from their reparse data in the destination, or back
// in the source when the relocation is undone.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/access_scan.h"

// Removes each of `links` below `root`, in order. When one cannot be removed (or
// cannot be seen gone), the ones removed before it, and that one if it is gone
// after all, are made again, `failedPath` names it and false is returned;
// `putBack` then tells whether all of those came back.
[[nodiscard]] bool TakeLinksOut(const std::wstring& root, const std::vector<LinkRecord>& links,
                                std::wstring& failedPath, bool& putBack);

// Makes `links` again below `root`. A junction that pointed into `oldFolder` (a full
// path) is re-pointed to the same place in `newFolder`; pass the same folder twice
// to keep every target. Stops at the first that cannot be made, removes those it
// made, names it in `failedPath` and returns false.
[[nodiscard]] bool PutLinksIn(const std::wstring& root, const std::vector<LinkRecord>& links,
                              const std::wstring& oldFolder, const std::wstring& newFolder, std::wstring& failedPath);

// Makes every one of `links` below `root` with its data as recorded, going on past
// failures. True when all stand there again.
[[nodiscard]] bool PutLinksBack(const std::wstring& root, const std::vector<LinkRecord>& links);

// Removes those of `links` found below `root` as links: each only when its data is
// as recorded, or as recorded and then re-pointed from `madeFrom` to `madeIn` (a
// link made in another folder than the one it was read in). Anything else of the
// same name is left alone. True when none of them is left.
[[nodiscard]] bool RemoveLinksFrom(const std::wstring& root, const std::vector<LinkRecord>& links,
                                   const std::wstring& madeFrom = std::wstring(),
                                   const std::wstring& madeIn = std::wstring());

// Moves the entries `names` of `from` back into `to` with their links: takes
// `links` out of `from`, moves the entries, makes the links again in `to`, then asks
// `allBack` whether everything is in its place. A pass that fails is tried again a
// few times, a moment apart: every step skips what is already done, and a failure
// met on the way (a file held for a moment, an answer lost) should not leave the
// files split. True once a pass succeeded and `allBack` agreed.
[[nodiscard]] bool MoveBackWithLinks(const std::wstring& from, const std::wstring& to,
                                     const std::vector<std::wstring>& names, const std::vector<LinkRecord>& links,
                                     const std::function<bool()>& allBack);
