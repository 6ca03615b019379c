#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery/par2_packets.h"
#include "engine/status.h"

namespace morvane {

class FileLayer;

// One recovery slice found in a set's files: where its data lies and the
// packet MD5 that data must give (checked when it is used).
struct RecoverySliceRef {
    std::string path;
    int64_t packetOffset = 0;
    uint32_t exponent = 0;
    Md5Digest packetHash{};
    // Its data was read whole and matched packetHash: a rebuild need not
    // hash it again (what it rebuilds is checked against its own MD5).
    bool checked = false;
};

// The recovery data of one division as read from `<prefix>.par2` and every
// `<prefix>.vol*.par2` beside it.
//
// Reading never trusts a length or count it has not checked: a packet is
// used only when its MD5 matches; description packets longer than the
// format allows for 32,768 slices are passed over unread; recovery slice
// packets are located from their headers and their data is checked when a
// repair reads it. Damaged packets are skipped, packets of other sets
// ignored, repeated packets used once. Memory stays bounded by the format's
// limits whatever the files claim.
class Par2Set {
  public:
    // Reads the set's files in `folder` (ending in "/"). Returns a failure
    // only when a file that exists cannot be read; a set that is missing or
    // unusable is reported by usable() and problem().
    Status read(FileLayer& layer, const std::string& folder, const std::string& prefix);

    // True when the set's main packet and a description of every one of its
    // files were found and agree with each other.
    bool usable() const { return m_problem.empty(); }
    // Why the set cannot be used: "" when it can.
    const std::string& problem() const { return m_problem; }

    uint64_t sliceSize() const { return m_sliceSize; }
    const Md5Digest& setId() const { return m_setId; }
    // The protected files in the order of the main packet.
    const std::vector<Par2FileInfo>& files() const { return m_files; }
    // Recovery slices with distinct exponents, lowest exponent first.
    const std::vector<RecoverySliceRef>& recoverySlices() const { return m_recovery; }
    // Forgets the recovery slices for which `keep` returns false; `keep`
    // may mark those it keeps.
    template <typename Keep>
    void keepRecoverySlices(Keep keep) {
        std::vector<RecoverySliceRef> kept;
        for (RecoverySliceRef& ref : m_recovery) {
            if (keep(ref)) kept.push_back(std::move(ref));
        }
        m_recovery = std::move(kept);
    }
    // Input slices of files()[i]: its length divided by the slice size,
    // rounded up (0 for an empty file).
    uint64_t slicesOf(std::size_t file) const;
    // The index of `name` in files(), or -1.
    int32_t fileIndex(const std::string& name) const;
    // Bytes the last read hashed to check packets: at most three times the
    // size of the files it read, whatever they hold.
    uint64_t bytesHashed() const { return m_bytesHashed; }

  private:
    struct Reading;
    struct OpenedFile;

    // The steps of read, in order. Each returns false (or a failure) when
    // the set turned out unusable; m_problem then says why.
    Status openFiles(Reading& r, const std::string& folder, const std::string& prefix);
    Status readMainPackets(Reading& r);
    bool adoptFirstMain(Reading& r);
    Status readDescriptions(Reading& r);
    bool checkDescriptions(Reading& r);
    Status readChecksumsAndSlices(Reading& r);
    // A recovery slice packet of the set: noted by exponent.
    int64_t takeRecoverySlice(Reading& r, OpenedFile& o, int64_t at, const PacketHeader& h);
    // The index in m_files of the file a packet of `type` in r.body is
    // about, or nullptr when it is not one of the set's.
    const std::size_t* ownFile(const Reading& r, const PacketHeader& h,
                               const PacketType& type) const;

    std::string m_problem = "No recovery data";
    uint64_t m_sliceSize = 0;
    Md5Digest m_setId{};
    std::vector<Par2FileInfo> m_files;
    std::vector<RecoverySliceRef> m_recovery;
    uint64_t m_bytesHashed = 0;
};

// True when `name` is `<prefix>.par2` or a `<prefix>.vol*.par2` volume.
bool isRecoveryFileName(const std::string& name, const std::string& prefix);

// True when the PAR2 file at `path` describes a chunk file of `prefix`
// (an intact file description packet names one): recovery data of a
// division, not of some other file that happens to share the name.
bool describesChunksOf(FileLayer& layer, const std::string& path, const std::string& prefix);

// The number of usable recovery slices of the division `prefix` in
// `folder`, as the window shows it before a glue; 0 when there is no usable
// recovery data.
int32_t recoveryChunkCount(FileLayer& layer, const std::string& folder, const std::string& prefix);

}  // namespace morvane
