#include "recovery_support.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/block_plan.h"
#include "engine/checksum_file.h"
#include "engine/division_header.h"
#include "engine/file_layer.h"
#include "engine/recovery/par2_encoder.h"

namespace morvane_test {

void divideInto(const std::string& work, const std::string& folder, const std::string& prefix,
                const Bytes& content, int32_t chunkSize, int32_t recoveryChunks) {
    writeFile(work + "/original.dat", content);
    morvane::FileDivider div;
    prepareDivider(div, work, "original.dat", folder, prefix);
    div.setAvgChunkSize(chunkSize);
    ASSERT_EQ(div.AvgChunkSize(), chunkSize) << errorStateOf(div);
    div.setRecoveryChunks(recoveryChunks);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
}

morvane::Status protectDivision(const std::string& folder, const std::string& prefix,
                                const std::string& bigFile, int32_t recoveryChunks,
                                std::size_t pieceBytes) {
    morvane::FileLayer layer;
    const std::string dir = folder + "/";
    const Bytes headerText = readFile(dir + morvane::headerFileName(prefix));
    const std::vector<char> headerBytes(headerText.begin(), headerText.end());
    const morvane::DivisionHeader header = morvane::decodeHeader(headerBytes);

    morvane::RecoveryPlan plan;
    plan.prefix = prefix;
    plan.chunks.numOfChunks = header.NumOfChunks;
    plan.chunks.avgChunkSize = header.AvgChunkSize;
    plan.chunks.lastChunkSize = header.LastChunkSize;
    plan.headerBytes = headerBytes;
    plan.checksumFileBytes =
        morvane::checksumFileSize(prefix, header.NumOfChunks, header.BigFileName);
    plan.recoveryChunks = recoveryChunks;

    std::unique_ptr<morvane::File> source;
    morvane::Status s = layer.openRead(bigFile, &source);
    if (!s.ok()) return s;
    morvane::Par2Encoder encoder(layer, plan);
    s = encoder.start(*source, [&](const std::string& name, std::unique_ptr<morvane::File>* out) {
        return layer.openReadWrite(dir + name, out);
    });
    if (!s.ok()) return s;
    // Each chunk's checksum line follows its blocks, as its digest would.
    const Bytes sums = readFile(dir + morvane::checksumFileName(prefix));
    auto line = sums.begin();
    // Chunks stay in memory until their blocks are consumed; the helper waits
    // every few chunks, as a run waits before reusing a buffer.
    constexpr int32_t kChunksInFlight = 64;
    std::vector<Bytes> chunks(kChunksInFlight);
    int64_t sequence = 0;
    for (int32_t k = 1; k <= plan.chunks.numOfChunks; ++k) {
        if (k % kChunksInFlight == 0) {
            s = encoder.waitUntilDone(sequence);
            if (!s.ok()) return s;
        }
        Bytes& chunk = chunks[k % kChunksInFlight];
        chunk = readFile(dir + morvane::chunkFileName(prefix, k));
        for (std::size_t offset = 0; offset < chunk.size(); offset += pieceBytes) {
            morvane::Block block;
            block.data = chunk.data() + offset;
            block.bytes = std::min(pieceBytes, chunk.size() - offset);
            block.sequence = ++sequence;
            block.chunk = k;
            block.offset = static_cast<int64_t>(offset);
            block.endsChunk = offset + block.bytes == chunk.size();
            encoder.take(block);
        }
        const auto end = std::find(line, sums.end(), '\n') + 1;
        encoder.takeChecksumLines(std::string(line, end));
        line = end;
    }
    s = encoder.waitUntilDone(sequence);
    if (s.ok()) s = encoder.finish(std::string(sums.begin(), sums.end()));
    if (s.ok() && encoder.bytesFinished() != encoder.finishBytes()) {
        return morvane::Status::SysError(EPROTO, "Recovery data counted another finish");
    }
    return s;
}

}  // namespace morvane_test
