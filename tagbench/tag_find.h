// Finding a tag by the ID the grid shows: what the find box accepts, where
// the tag is, and what the user is told when it is not there.
//
// The grid shows IDs as unsigned decimal numbers, so that is what the box
// takes: digits only, 0 to 4294967295, with spaces around them allowed.
// Anything else (letters, a sign, hex, an empty box, a number too large)
// gets one message saying what is wanted. Texts are narrow literals in the
// build's code page, as in grid_format.h.
#pragma once

#include <cstdint>
#include <string>

bool ParseTagId(const char *text, uint32_t *id);

// The message for input ParseTagId refuses.
extern const char kTagIdInputMessage[];
// The message for an ID that is not in the table.
std::string TagNotFoundMessage(uint32_t id);

// Where a tag was found: its position in the table and the grid page that
// shows it. Takes TableLock. False when the ID is not in the table.
struct TagLocation {
    int index;
    int page;
};
bool LocateTag(uint32_t id, TagLocation *out);
