#include "ui/number_format.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace morvane {

namespace {

QLocale withoutGrouping(const QLocale& locale) {
    QLocale plain(locale);
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    return plain;
}

bool isIgnoredBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// Walks a text while skipping blanks, tabs and line feeds.
class BlankSkippingReader {
  public:
    explicit BlankSkippingReader(const QString& text) : m_text(text) {}

    QChar peek() {
        skipBlanks();
        return m_at < m_text.size() ? m_text[m_at] : QChar();
    }
    void advance() { ++m_at; }
    bool takeDigit(char* digit) {
        QChar c = peek();
        if (c < u'0' || c > u'9') return false;
        *digit = static_cast<char>(c.unicode());
        advance();
        return true;
    }
    // Consumes `word` when it stands next, blanks allowed between its characters.
    bool take(const QString& word) {
        if (word.isEmpty()) return false;
        const qsizetype saved = m_at;
        for (QChar expected : word) {
            if (peek() != expected) {
                m_at = saved;
                return false;
            }
            advance();
        }
        return true;
    }

  private:
    void skipBlanks() {
        while (m_at < m_text.size() && isIgnoredBlank(m_text[m_at])) ++m_at;
    }

    const QString& m_text;
    qsizetype m_at = 0;
};

}  // namespace

QString formatGrouped(int64_t value, const QLocale& locale) {
    if (value == 0) return QString();
    QLocale grouped(locale);
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouped.toString(static_cast<qlonglong>(value));
}

QString bytesText(int64_t value, const QLocale& locale) {
    return formatGrouped(value, locale) + QStringLiteral(" bytes");
}

QString formatUpToTwoDecimals(double value, const QLocale& locale) {
    const QLocale plain = withoutGrouping(locale);
    const QString point = plain.decimalPoint();
    const QString zero = plain.zeroDigit();
    QString text = plain.toString(std::fabs(value), 'f', 2);
    const qsizetype at = text.indexOf(point);
    QString whole = at < 0 ? text : text.left(at);
    QString decimals = at < 0 ? QString() : text.mid(at + point.size());
    while (decimals.endsWith(zero)) decimals.chop(zero.size());
    if (whole == zero) whole.clear();
    const bool negative = value < 0 && !(whole.isEmpty() && decimals.isEmpty());
    return (negative ? plain.negativeSign() : QString()) + whole + point + decimals;
}

QString formatPercent(double ratio, const QLocale& locale) {
    return withoutGrouping(locale).toString(ratio * 100.0, 'f', 1) + u'%';
}

LeadingNumber readLeadingNumber(const QString& text, const QLocale& locale) {
    BlankSkippingReader reader(text);
    std::string number;
    if (reader.peek() == u'-') {
        number += '-';
        reader.advance();
    } else if (reader.peek() == u'+') {
        reader.advance();
    }

    // Mantissa digits, and where the first significant one stands relative
    // to the decimal point: enough to tell an overflow from an underflow.
    std::string digits;
    int64_t wholeDigits = 0;
    int64_t firstSignificant = std::numeric_limits<int64_t>::min();
    char d;
    while (reader.takeDigit(&d)) {
        if (d != '0' && firstSignificant == std::numeric_limits<int64_t>::min())
            firstSignificant = wholeDigits;
        digits += d;
        ++wholeDigits;
    }
    std::string fraction;
    if (reader.take(locale.decimalPoint())) {
        int64_t position = wholeDigits;
        while (reader.takeDigit(&d)) {
            if (d != '0' && firstSignificant == std::numeric_limits<int64_t>::min())
                firstSignificant = position;
            fraction += d;
            ++position;
        }
    }
    if (digits.empty() && fraction.empty()) return {};

    // The exponent is capped far beyond any double so that it cannot overflow here.
    int64_t exponent = 0;
    const QChar e = reader.peek().toUpper();
    if (e == u'E' || e == u'D') {
        reader.advance();
        bool negative = false;
        if (reader.peek() == u'-' || reader.peek() == u'+') {
            negative = reader.peek() == u'-';
            reader.advance();
        }
        while (reader.takeDigit(&d)) {
            if (exponent < 1000000000) exponent = exponent * 10 + (d - '0');
        }
        if (negative) exponent = -exponent;
    }
    if (firstSignificant == std::numeric_limits<int64_t>::min()) return {};  // all zeros

    number += digits.empty() ? std::string("0") : digits;
    if (!fraction.empty()) number += "." + fraction;
    number += "e" + std::to_string(exponent);

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // The decimal magnitude decides: a large one overflows, a small one is 0.
        const int64_t magnitude = wholeDigits - firstSignificant - 1 + exponent;
        if (magnitude > 0) return {0.0, true};
        return {};
    }
    if (result.ec != std::errc() || std::isinf(value)) return {0.0, true};
    return {value, false};
}

double roundHalfEven(double value) {
    const double below = std::floor(value);
    const double rest = value - below;
    if (rest > 0.5) return below + 1.0;
    if (rest < 0.5) return below;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

ChunkSizeEntry readChunkSizeEntry(const QString& text, int32_t unitSize, const QLocale& locale) {
    const LeadingNumber number = readLeadingNumber(text, locale);
    if (number.overflow) return {true, 0};
    const double product = number.value * static_cast<double>(unitSize);
    if (!std::isfinite(product) || product > kMaxChunkEntry) return {true, 0};
    const double rounded = roundHalfEven(product);
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()))
        return {false, std::numeric_limits<int32_t>::min()};
    return {false, static_cast<int32_t>(rounded)};
}

}  // namespace morvane
