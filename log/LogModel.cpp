#include "LogModel.h"

#include <cstring>

// Text lives in chunks that are never moved or freed before the model, so a line's view stays
// valid; a line never spans chunks, and one longer than a chunk gets a chunk of its own. The
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

    std::vector<std::unique_ptr<char[]>> Chunks;
    char* Free = nullptr;
    size_t FreeLeft = 0;
    std::vector<std::unique_ptr<TEntry[]>> Blocks;
    size_t Count = 0;

    const char* Store(std::string_view text) {
        if (text.empty()) {
            return Free;
        }
        if (text.size() > kChunkBytes) {
            // Allocated for this line alone; the partly filled chunk stays current for the next.
            auto own = std::make_unique_for_overwrite<char[]>(text.size());
            std::memcpy(own.get(), text.data(), text.size());
            Chunks.push_back(std::move(own));
            return Chunks.back().get();
        }
        if (text.size() > FreeLeft) {
            Chunks.push_back(std::make_unique_for_overwrite<char[]>(kChunkBytes));
            Free = Chunks.back().get();
            FreeLeft = kChunkBytes;
        }
        char* place = Free;
        std::memcpy(place, text.data(), text.size());
        Free += text.size();
        FreeLeft -= text.size();
        return place;
    }
};

TLogModel::TLogModel() : Storage(std::make_unique<TStorage>()) {}

TLogModel::~TLogModel() = default;

void TLogModel::Append(TLogKind kind, std::string_view text) {
    TStorage& storage = *Storage;
    const size_t slot = storage.Count & (TStorage::kBlockEntries - 1);
    if (slot == 0) {
        storage.Blocks.push_back(
            std::make_unique_for_overwrite<TStorage::TEntry[]>(TStorage::kBlockEntries));
    }
    const char* data = storage.Store(text);
    storage.Blocks.back()[slot] = {data, static_cast<uint64_t>(text.size()) |
                                             (static_cast<uint64_t>(kind) << TStorage::kKindShift)};
    ++storage.Count;
}

size_t TLogModel::Size() const {
    return Storage->Count;
}

TLogModel::TLine TLogModel::Line(size_t index) const {
    // Past the end there is no line to show: an empty one rather than a fault.
    if (index >= Storage->Count) {
        return {TLogKind::Info, {}};
    }
    const TStorage::TEntry& entry =
        Storage->Blocks[index >> TStorage::kBlockShift][index & (TStorage::kBlockEntries - 1)];
    return {static_cast<TLogKind>(entry.LengthAndKind >> TStorage::kKindShift),
            std::string_view(entry.Data,
                             static_cast<size_t>(entry.LengthAndKind & TStorage::kLengthMask))};
}
