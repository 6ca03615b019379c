#include "engine/output_names.h"

#include <algorithm>

#include "engine/division_header.h"
#include "engine/recovery/par2_set.h"

namespace morvane {

OutputNames::OutputNames(std::vector<std::string> names, std::string chunkPrefix,
                         int32_t chunkCount)
    : m_names(std::move(names)),
      m_chunkPrefix(std::move(chunkPrefix)),
      m_chunkCount(std::max(chunkCount, 0)) {}

std::vector<std::string> OutputNames::list(int32_t chunkLimit) const {
    std::vector<std::string> all = m_names;
    for (int32_t k = 1; k <= std::min(m_chunkCount, chunkLimit); ++k) {
        all.push_back(chunkFileName(m_chunkPrefix, k));
    }
    return all;
}

std::size_t OutputNames::longest() const {
    std::size_t most = 0;
    for (const std::string& name : m_names) most = std::max(most, name.size());
    if (m_chunkCount > 0) most = std::max(most, chunkFileName(m_chunkPrefix, m_chunkCount).size());
    return most;
}

bool OutputNames::contains(const std::string& name) const {
    return std::find(m_names.begin(), m_names.end(), name) != m_names.end() ||
           (m_chunkCount > 0 && chunkNumberOf(name, m_chunkPrefix, m_chunkCount) > 0) ||
           (m_withRecovery && isRecoveryFileName(name, m_recoveryPrefix));
}

bool OutputNames::containsCut(const std::string& stem) const {
    const std::size_t room = stem.size();
    for (const std::string& name : m_names) {
        if (name.size() > room && cutName(name, room) == stem) return true;
    }
    if (m_chunkCount == 0) return false;
    const auto fits = [&](int64_t k) {
        const std::string name = chunkFileName(m_chunkPrefix, k);
        return k >= 1 && k <= m_chunkCount && name.size() > room && cutName(name, room) == stem;
    };
    // A cut within the number keeps its first digits: a chunk whose number
    // starts with them and is at least as long cuts alike. A cut before the
    // number makes every long enough chunk name cut alike.
    std::string digits;
    const std::string lead = m_chunkPrefix + "_";
    if (stem.compare(0, lead.size(), lead) == 0) {
        for (std::size_t i = lead.size(); i < stem.size() && stem[i] >= '0' && stem[i] <= '9';
             ++i) {
            digits += stem[i];
        }
    }
    if (!digits.empty() && (digits[0] == '0' || digits.size() > 10)) return false;
    int64_t k = digits.empty() ? 1 : std::stoll(digits);
    for (; k <= m_chunkCount; k *= 10) {
        if (fits(k)) return true;
    }
    return false;
}

std::string cutName(const std::string& name, std::size_t room) {
    if (name.size() <= room) return name;
    std::string stem = name.substr(0, room);
    while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) {
        stem.pop_back();
    }
    if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
    stem.resize(room, '_');
    return stem;
}

}  // namespace morvane
