// COBOL copybooks read as record layouts: the elementary items of a record description become
// the layout's fields, its group items the layout's groups.
#pragma once

#include <string>
#include <string_view>

#include "layout/layout.h"

namespace vesmer {

// Whether the bytes of a layout file are a COBOL copybook rather than lines of "名前,開始桁,...":
// its first entry, past comments and the sequence area, starts with a level number followed by
// a blank, and the text holds a PIC or PICTURE clause. A layout file's first line never starts
// that way (a name followed by a comma).
[[nodiscard]] bool LooksLikeCopybook(std::string_view bytes);

// Parses a copybook (UTF-8, a byte order mark allowed, or code page 932; lines end at LF, CR LF
// or CR) into `layout`: fields of byte columns, in the copybook's order, the first at column 1.
//
// Fixed format (sequence area in columns 1-6, indicator in column 7: '*' and '/' comments, 'D'
// debugging lines passed over, '-' a continuation; text in columns 8-72, a double-byte
// character counting two columns) unless a line cannot be fixed format (column 7 holds another
// character) or a ">>SOURCE FORMAT FREE" directive says free format; "*>" starts a comment in
// either. Levels 01-49 and 77 (66 and 88 entries are passed over); a second 01 or 77 is
// another view of the same record, kept like a REDEFINES.
//
// PIC X(n), A(n), 9(n), S9(n)V9(m), N(n) and G(n) (2 bytes each), repeated symbols (999V99,
// X(3)XX) and edited pictures (ZZ9.99, kept as text of their length); USAGE DISPLAY,
// COMP/COMP-4/BINARY and COMP-5 (2, 4 or 8 bytes for 1-4, 5-9, 10-18 digits: type B, or BU
// without S), COMP-3/PACKED-DECIMAL (digits/2+1 bytes, type P), DISPLAY-1 and NATIONAL for N and
// G; SIGN LEADING|TRAILING [SEPARATE [CHARACTER]]; OCCURS n [TIMES] with its KEY and INDEXED BY
// phrases (fields named NAME(1), NAME(2), nested NAME(1,2)); REDEFINES (the redefining fields
// are kept as FieldRole::kRedefining); FILLER and unnamed items (kept as kFiller, named
// FILLER#1, FILLER#2... in order, as '#' is in no COBOL name); VALUE, JUSTIFIED, BLANK WHEN
// ZERO, GLOBAL and EXTERNAL change nothing. USAGE and SIGN of a group apply to its items.
// Group items become `layout.groups`.
//
// A name given to more than one item is qualified as COBOL qualifies it, by the groups above
// it, as far up as makes it unique: "年 OF 開始日" and "年 OF 終了日". Names that stay the same
// all the way up are refused.
//
// Fails on the first thing it cannot lay out exactly, with `message` naming the file and the
// line, e.g. "★レイアウトファイル /x/a.cpy の 7 行目: OCCURS DEPENDING ON はまだ扱えません":
// a clause or word it does not know, a level that does not nest, a PIC that does not fit its
// USAGE, OCCURS DEPENDING ON, SYNCHRONIZED, COMP-1/COMP-2, PIC P, COPY, a REDEFINES of no item
// just before, a record beyond 2147483647 bytes. `layout` is then left empty.
[[nodiscard]] bool ParseCopybookText(std::string_view bytes, const std::string& path_for_messages,
                                     Layout& layout, std::string& message);

}  // namespace vesmer
