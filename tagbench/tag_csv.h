// The exported tag table: the CSV text that Tarnwick's "导出标签表…" writes.
//
// UTF-8 with a byte-order mark, CR LF after every row and RFC 4180 quoting,
// so that Excel on a Chinese Windows opens it with the right characters. A
// header row with the grid's six column titles and a seventh, "掉线", then
// one row per tag in table order with the texts the grid would show for it;
// an offline tag has an empty dB / cm cell, as in the grid, and "是" in the
// seventh column (the grid shows it in red instead). Two more columns,
// "首次出现" and "最后出现", give the local time of the tag's first and last
// report since it entered the table, as YYYY-MM-DD HH:MM:SS.
//
// The row texts come from the grid's own formatting, whose literals are in
// the build's code page (GBK in the Windows build); the caller passes the
// conversion of those texts to UTF-8. The titles are UTF-8 here.
#pragma once

#include <string>
#include <vector>

#include "tagbench/local_time.h"
#include "tagbench/tag_table.h"

// One field, quoted when it holds a comma, a double quote, CR or LF (double
// quotes inside doubled).
void AppendCsvField(std::string &out, const std::string &field);

// The whole file. seen[i] holds the report times of rows[i] (history clock,
// placed in local time by clock; a row without an entry gets empty times).
// to_utf8 turns a grid text into UTF-8 (identity where the build's narrow
// literals already are UTF-8).
std::string TagTableCsv(const std::vector<TagRowSnapshot> &rows, const std::vector<TagSeenTimes> &seen,
                        const WallClock &clock, std::string (*to_utf8)(const char *text));
