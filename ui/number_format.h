#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

// How the window writes and reads numbers. Every function takes the locale
// whose separators it uses; the window passes QLocale() to all of them, so
// what it writes it reads back the same way.
namespace morvane {

// The largest chunk size the chunk-size box accepts, in bytes.
constexpr double kMaxChunkEntry = 2000000000.0;

// "#,#": digits grouped in threes, no decimals, an empty text for zero.
QString formatGrouped(int64_t value, const QLocale& locale = QLocale());

// A size as the panels show it: "#,#" followed by " bytes".
QString bytesText(int64_t value, const QLocale& locale = QLocale());

// "#.##": at most two decimals, the decimal separator always written, no
// leading zero (1024 -> "1024.", 0.5 -> ".5", 0.004 -> ".").
QString formatUpToTwoDecimals(double value, const QLocale& locale = QLocale());

// "0.0%": the ratio times 100 with exactly one decimal and a "%" sign.
QString formatPercent(double ratio, const QLocale& locale = QLocale());

// The leading number of a text: blanks, tabs and line feeds are skipped
// wherever they stand; then an optional sign, digits, optionally the
// locale's decimal separator and digits, optionally "E" or "D" with an
// optional sign and digits. Reading stops at the first other character; a
// text without a leading number reads 0.
struct LeadingNumber {
    double value = 0.0;
    bool overflow = false;  // too large for a double
};
LeadingNumber readLeadingNumber(const QString& text, const QLocale& locale = QLocale());

// Rounds to the nearest whole number, a half going to the even neighbour.
double roundHalfEven(double value);

// What the chunk-size box's text means in bytes for a unit of `unitSize`
// bytes: the leading number times the unit, rounded half to even. Sizes
// that cannot be represented or exceed kMaxChunkEntry are too big. A size
// below the 32-bit range comes back as INT32_MIN, which the divider refuses
// like every size below 1.
struct ChunkSizeEntry {
    bool tooBig = false;
    int32_t bytes = 0;
};
ChunkSizeEntry readChunkSizeEntry(const QString& text, int32_t unitSize,
                                  const QLocale& locale = QLocale());

}  // namespace morvane
