#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// What a check found of one file of a set.
enum class FileHealth { Intact, Damaged, Missing };

struct CheckedFile {
    std::string name;
    FileHealth health = FileHealth::Intact;
};

// What a check of a whole set found.
struct SetCheck {
    // Every chunk, in order; then the header and the checksum file when the
    // recovery data found them missing or damaged.
    std::vector<CheckedFile> files;
    // How many of `files` are chunks (the first ones).
    int32_t chunks = 0;
    // False when the set has neither a checksum file nor recovery data: the
    // chunks were checked for presence and length only.
    bool contentsChecked = false;
    // The recovery data lying beside the set belongs to another division
    // and was not used.
    bool foreignRecovery = false;
    // The set's own recovery data judged the files.
    bool recoveryUsed = false;
    // The recovery data can rebuild every file that is not intact (true
    // when all are); otherwise `why` says what is lost and what it covers.
    bool recoverable = true;
    std::string why;

    // The names of the files that are not intact, in order.
    std::vector<std::string> lost() const {
        std::vector<std::string> names;
        for (const CheckedFile& file : files) {
            if (file.health != FileHealth::Intact) names.push_back(file.name);
        }
        return names;
    }
    // True when a chunk is missing, as opposed to only damaged chunks, or a
    // missing header or checksum file beside them.
    bool anyChunkMissing() const {
        for (int32_t k = 0; k < chunks && k < int32_t(files.size()); ++k) {
            if (files[std::size_t(k)].health == FileHealth::Missing) return true;
        }
        return false;
    }
    bool anyMissing() const {
        for (const CheckedFile& file : files) {
            if (file.health == FileHealth::Missing) return true;
        }
        return false;
    }
};

}  // namespace morvane
