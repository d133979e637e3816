#include "LogModel.h"

#include <cstring>
#include <deque>

// Text lives in chunks that never move, so a line's view stays valid until its chunk is dropped;
// a line never spans chunks, and one longer than a chunk gets a chunk of its own. Chunks hold
// lines in the order they came, so dropping the oldest chunk drops exactly the oldest lines. The
// index lives in fixed blocks for the same reason: appending never copies what is already there.
struct TLogModel::TStorage {
    static constexpr size_t kChunkBytes = size_t{1} << 20;
    static constexpr size_t kBlockShift = 12;
    static constexpr size_t kBlockEntries = size_t{1} << kBlockShift;
    // The kind rides in the top byte of the length, keeping an entry at 16 bytes; no address
    // space holds a line of 2^56 bytes.
    static constexpr unsigned kKindShift = 56;
    static constexpr uint64_t kLengthMask = (uint64_t{1} << kKindShift) - 1;

    struct TEntry {
        const char* Data;
        uint64_t LengthAndKind;
    };

    struct TChunk {
        std::unique_ptr<char[]> Bytes;
        size_t Capacity;
        // One past the number (since start-up) of the last line whose text is here.
        uint64_t EndLine;
    };

    std::deque<TChunk> Chunks;
    char* Free = nullptr;
    size_t FreeLeft = 0;
    std::deque<std::unique_ptr<TEntry[]>> Blocks;
    // Line numbers count from start-up: the first held line, and one past the last.
    uint64_t FirstLine = 0;
    uint64_t EndLine = 0;
    // The number of the first entry of the first block.
    uint64_t FirstBlockLine = 0;
    size_t ChunkBytes = 0;
    size_t Limit = kUnlimited;

    size_t Held() const { return ChunkBytes + Blocks.size() * kBlockEntries * sizeof(TEntry); }

    void NewChunk(size_t capacity) {
        Chunks.push_back({std::make_unique_for_overwrite<char[]>(capacity), capacity, EndLine});
        ChunkBytes += capacity;
    }

    const char* Store(std::string_view text) {
        if (text.size() > kChunkBytes) {
            // Its own chunk; the next line starts a fresh one, so chunks keep the lines' order.
            NewChunk(text.size());
            std::memcpy(Chunks.back().Bytes.get(), text.data(), text.size());
            Free = nullptr;
            FreeLeft = 0;
            return Chunks.back().Bytes.get();
        }
        if (Chunks.empty() || text.size() > FreeLeft) {
            NewChunk(kChunkBytes);
            Free = Chunks.back().Bytes.get();
            FreeLeft = kChunkBytes;
        }
        char* place = Free;
        if (!text.empty()) {
            std::memcpy(place, text.data(), text.size());
        }
        Free += text.size();
        FreeLeft -= text.size();
        return place;
    }

    // Drops the oldest chunks, and the index blocks only they used, while more is held than the
    // limit allows; the chunk being filled stays.
    void Trim() {
        while (Chunks.size() > 1 && Held() > Limit) {
            FirstLine = Chunks.front().EndLine;
            ChunkBytes -= Chunks.front().Capacity;
            Chunks.pop_front();
            while (!Blocks.empty() && FirstBlockLine + kBlockEntries <= FirstLine) {
                Blocks.pop_front();
                FirstBlockLine += kBlockEntries;
            }
        }
    }

    TEntry& Entry(uint64_t line) const {
        const uint64_t offset = line - FirstBlockLine;
        return Blocks[static_cast<size_t>(offset >> kBlockShift)]
                     [static_cast<size_t>(offset & (kBlockEntries - 1))];
    }
};

TLogModel::TLogModel() : Storage(std::make_unique<TStorage>()) {}

TLogModel::~TLogModel() = default;

void TLogModel::SetLimitBytes(size_t bytes) {
    Storage->Limit = bytes;
}

void TLogModel::Append(TLogKind kind, std::string_view text) {
    TStorage& storage = *Storage;
    if (((storage.EndLine - storage.FirstBlockLine) & (TStorage::kBlockEntries - 1)) == 0) {
        storage.Blocks.push_back(
            std::make_unique_for_overwrite<TStorage::TEntry[]>(TStorage::kBlockEntries));
    }
    const char* data = storage.Store(text);
    storage.Entry(storage.EndLine) = {
        data,
        static_cast<uint64_t>(text.size()) | (static_cast<uint64_t>(kind) << TStorage::kKindShift)};
    ++storage.EndLine;
    storage.Chunks.back().EndLine = storage.EndLine;
    storage.Trim();
}

size_t TLogModel::Size() const {
    return static_cast<size_t>(Storage->EndLine - Storage->FirstLine);
}

uint64_t TLogModel::Dropped() const {
    return Storage->FirstLine;
}

size_t TLogModel::HeldBytes() const {
    return Storage->Held();
}

TLogModel::TLine TLogModel::Line(size_t index) const {
    // Past the end there is no line to show: an empty one rather than a fault.
    if (index >= Size()) {
        return {TLogKind::Info, {}};
    }
    const TStorage::TEntry& entry = Storage->Entry(Storage->FirstLine + index);
    return {static_cast<TLogKind>(entry.LengthAndKind >> TStorage::kKindShift),
            std::string_view(entry.Data,
                             static_cast<size_t>(entry.LengthAndKind & TStorage::kLengthMask))};
}
