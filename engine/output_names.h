#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// The final names one run writes into one folder: a few single names and,
// for a division, the chunk names `<prefix>_1.div` .. `<prefix>_<count>.div`.
// Answers whether a name, or a name cut short as temporary names cut it, is
// one of them, without listing every chunk name.
class OutputNames {
  public:
    OutputNames() = default;
    OutputNames(std::vector<std::string> names, std::string chunkPrefix = "",
                int32_t chunkCount = 0);

    // Every name, the chunks' included, in no particular order. Meant for
    // small sets; `chunkLimit` bounds how many chunk names are listed.
    std::vector<std::string> list(int32_t chunkLimit) const;
    // Bytes of the longest name.
    std::size_t longest() const;
    bool contains(const std::string& name) const;
    // True when `stem` is cutName(n, stem.size()) of a name n of the set
    // that needed cutting.
    bool containsCut(const std::string& stem) const;
    int32_t chunkCount() const { return m_chunkCount; }
    // Counts the recovery files of `prefix` (`<prefix>.par2` and its
    // volumes, whatever their numbers) among the names too.
    void addRecoveryFilesOf(const std::string& prefix) {
        m_recoveryPrefix = prefix;
        m_withRecovery = true;
    }

  private:
    std::vector<std::string> m_names;
    std::string m_chunkPrefix;
    int32_t m_chunkCount = 0;
    std::string m_recoveryPrefix;
    bool m_withRecovery = false;
};

// `name` cut to `room` bytes as a temporary name holds it: never half a
// UTF-8 character at the end, then padded with "_" back to `room` bytes so
// that a reader can tell it was cut. `name` itself when it fits.
std::string cutName(const std::string& name, std::size_t room);

}  // namespace morvane
