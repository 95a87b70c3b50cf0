// Sends the records of a select to the VOK server through Z_VOK_DATA_CHUNK:
// exports DHANDLE (the data handle received), EMSG, END_OF_DATA, TABLE_NAME;
// tables DTAB (byte lines of the record width) and MTAB (character lines of
// 512 characters: empty for the read report; the lines of describe() for
// the next chunk of others). A chunk holds at most the block size in bytes,
// and at least one record; the last has END_OF_DATA 'X'. Records are written
// straight into the chunk table, whose memory is reused for the next chunk.
#pragma once

#include "sapsim/call_context.h"
#include "sapsim/vok_callback.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sapsim {

class DataChunkSender {
public:
    DataChunkSender(const CallContext& context, const char* module, const char16_t* dhandle,
                    const std::string& table_name, unsigned row_bytes, std::int64_t block_size);
    ~DataChunkSender();
    DataChunkSender(const DataChunkSender&) = delete;
    DataChunkSender& operator=(const DataChunkSender&) = delete;

    // False when the tables could not be made (no memory).
    bool ready() const { return dtab_ != nullptr && mtab_ != nullptr; }
    // A new zero-filled record in the current chunk; null without memory.
    unsigned char* append();
    bool full() const { return ItFill(dtab_) >= rows_per_chunk_; }
    // MTAB lines of the next chunk (cut to 512 characters); false without memory.
    bool describe(const std::vector<std::string>& lines);

    // Sends the records gathered, END_OF_DATA 'X' when `last`; empties the
    // chunk when the server answered.
    CallbackOutcome send(bool last, std::u16string& raised);
    // Sends one last chunk without records carrying `message` as EMSG.
    CallbackOutcome send_error(const std::string& message, std::u16string& raised);

    std::uint64_t rows_sent() const { return rows_sent_; }
    std::uint64_t chunks_sent() const { return chunks_sent_; }
    unsigned rows_per_chunk() const { return rows_per_chunk_; }

private:
    CallbackOutcome call(bool last, const std::string& message, std::u16string& raised);

    const CallContext& context_;
    const char* module_;
    std::u16string dhandle_;
    std::string table_name_;
    unsigned rows_per_chunk_ = 1;
    ITAB_H dtab_ = nullptr;
    ITAB_H mtab_ = nullptr;
    std::uint64_t rows_sent_ = 0;
    std::uint64_t chunks_sent_ = 0;
};

} // namespace sapsim
