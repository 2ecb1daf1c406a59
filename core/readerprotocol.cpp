#include "readerprotocol.h"

#include "bytecodec.h"

const char* const READER_NAME_TEXTS[READER_NAMES] = {"FileVersion", "FileDescription"};

namespace {

bool SentByWorker(std::uint8_t type)
{
    return type == READER_FRAME_READY || type == READER_FRAME_OPENED || type == READER_FRAME_DESCRIBED ||
           type == READER_FRAME_JAVA_ANSWER || type == READER_FRAME_EXPANDED;
}

bool SentByTaskRoll(std::uint8_t type)
{
    return type == READER_FRAME_DESCRIBE || type == READER_FRAME_FAILED_FILE || type == READER_FRAME_JAVA ||
           type == READER_FRAME_EXPAND;
}

}  // namespace

bool AppendReaderFrame(std::vector<std::uint8_t>* out, ReaderFrame type, const std::vector<std::uint8_t>& body)
{
    if (body.size() > READER_FRAME_BODY_MAX)
        return false;
    PutLittleEndian(out, body.size() + 1, 4);
    out->push_back(type);
    out->insert(out->end(), body.begin(), body.end());
    return true;
}

FrameSplit SplitReaderFrame(const std::uint8_t* bytes, std::size_t size, bool fromWorker, ReaderFrame* type,
                            const std::uint8_t** body, std::size_t* bodyBytes, std::size_t* frameBytes)
{
    if (size < 4)
        return FRAME_INCOMPLETE;
    ByteReader header(bytes, size);
    std::uint64_t length = 0;
    header.Get(&length, 4);
    if (length == 0 || length > READER_FRAME_BODY_MAX + 1)
        return FRAME_INVALID;
    if (size < READER_FRAME_HEADER_BYTES)
        return FRAME_INCOMPLETE;
    const std::uint8_t sent = bytes[4];
    if (fromWorker ? !SentByWorker(sent) : !SentByTaskRoll(sent))
        return FRAME_INVALID;
    if (size - 4 < length)
        return FRAME_INCOMPLETE;
    *type = static_cast<ReaderFrame>(sent);
    *body = bytes + READER_FRAME_HEADER_BYTES;
    *bodyBytes = static_cast<std::size_t>(length - 1);
    *frameBytes = static_cast<std::size_t>(length + 4);
    return FRAME_WHOLE;
}

std::vector<std::uint8_t> EncodeDescribeRequest(const DescribeRequest& request)
{
    std::vector<std::uint8_t> body;
    PutLittleEndian(&body, request.sequence, 4);
    body.push_back(request.wide ? 1 : 0);
    if (request.wide) {
        PutLittleEndian(&body, request.widePath.size(), 4);
        for (std::uint16_t unit : request.widePath)
            PutLittleEndian(&body, unit, 2);
    } else {
        PutLittleEndian(&body, request.path.size(), 4);
        body.insert(body.end(), request.path.begin(), request.path.end());
    }
    return body;
}

bool DecodeDescribeRequest(const std::uint8_t* body, std::size_t size, DescribeRequest* request)
{
    ByteReader reader(body, size);
    std::uint64_t length = 0;
    *request = DescribeRequest();
    if (!reader.GetAs(&request->sequence, 4) || !reader.Flag(&request->wide) || !reader.Get(&length, 4) ||
        length == 0 || length > READER_PATH_MAX)
        return false;
    if (!request->wide)
        return reader.Text(&request->path, static_cast<std::size_t>(length)) && reader.Done();
    return reader.Units(&request->widePath, length) && reader.Done();
}

std::vector<std::uint8_t> EncodeDescribeAnswer(const DescribeAnswer& answer)
{
    std::vector<std::uint8_t> body;
    PutLittleEndian(&body, answer.sequence, 4);
    body.insert(body.end(), {answer.kind, static_cast<std::uint8_t>(answer.reused),
                             static_cast<std::uint8_t>(answer.failedBefore), answer.state,
                             static_cast<std::uint8_t>(answer.damaged)});
    for (const DescribedStrings& strings : answer.strings) {
        body.push_back(strings.found ? 1 : 0);
        body.push_back(static_cast<std::uint8_t>(strings.texts.size()));
        for (const std::string& text : strings.texts) {
            PutLittleEndian(&body, text.size(), 2);
            body.insert(body.end(), text.begin(), text.end());
        }
    }
    return body;
}

bool DecodeDescribeAnswer(const std::uint8_t* body, std::size_t size, DescribeAnswer* answer)
{
    ByteReader reader(body, size);
    *answer = DescribeAnswer();
    std::uint64_t kind = 0, state = 0;
    if (!reader.GetAs(&answer->sequence, 4) || !reader.Get(&kind, 1) || kind > DESCRIBED_FILE ||
        !reader.Flag(&answer->reused) || !reader.Flag(&answer->failedBefore) || !reader.Get(&state, 1) ||
        state > DESCRIBED_READ || !reader.Flag(&answer->damaged))
        return false;
    answer->kind = static_cast<DescribedKind>(kind);
    answer->state = static_cast<DescribedState>(state);
    for (DescribedStrings& strings : answer->strings) {
        std::uint64_t count = 0;
        if (!reader.Flag(&strings.found) || !reader.Get(&count, 1) || count > READER_TEXTS_MAX)
            return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t bytes = 0;
            strings.texts.emplace_back();
            if (!reader.Get(&bytes, 2) || bytes > READER_TEXT_MAX_BYTES ||
                !reader.Text(&strings.texts.back(), static_cast<std::size_t>(bytes)))
                return false;
        }
    }
    // Strings belong to a resource that was read; a file that is not one has none.
    const bool strings = !answer->strings[0].texts.empty() || !answer->strings[1].texts.empty() ||
                         answer->strings[0].found || answer->strings[1].found;
    if (strings && (answer->kind != DESCRIBED_FILE || answer->state != DESCRIBED_READ || answer->failedBefore))
        return false;
    return reader.Done();
}

std::vector<std::uint8_t> EncodeFileFacts(const std::uint32_t* sequence, const FileFacts& facts)
{
    std::vector<std::uint8_t> body;
    if (sequence != nullptr)
        PutLittleEndian(&body, *sequence, 4);
    body.push_back(facts.kind);
    for (std::uint64_t value : {facts.volume, facts.idHigh, facts.index, facts.size, facts.lastWrite})
        PutLittleEndian(&body, value, 8);
    return body;
}

bool DecodeFileFacts(const std::uint8_t* body, std::size_t size, std::uint32_t* sequence, FileFacts* facts)
{
    ByteReader reader(body, size);
    std::uint64_t kind = 0;
    *facts = FileFacts();
    if ((sequence != nullptr && !reader.GetAs(sequence, 4)) || !reader.Get(&kind, 1) || kind > FILE_KEY_ID_128 ||
        kind == FILE_KEY_NONE)
        return false;
    facts->kind = static_cast<FileKeyKind>(kind);
    return reader.Get(&facts->volume, 8) && reader.Get(&facts->idHigh, 8) && reader.Get(&facts->index, 8) &&
           reader.Get(&facts->size, 8) && reader.Get(&facts->lastWrite, 8) && reader.Done();
}

std::vector<std::uint8_t> EncodePathFrame(const PathFrame& frame)
{
    std::vector<std::uint8_t> body;
    PutLittleEndian(&body, frame.sequence, 4);
    body.push_back(frame.flag ? 1 : 0);
    for (std::uint16_t unit : frame.path)
        PutLittleEndian(&body, unit, 2);
    return body;
}

bool DecodePathFrame(const std::uint8_t* body, std::size_t size, PathFrame* frame)
{
    ByteReader reader(body, size);
    *frame = PathFrame();
    if (!reader.GetAs(&frame->sequence, 4) || !reader.Flag(&frame->flag) || reader.Left() % 2 != 0 ||
        reader.Left() / 2 > READER_PATH_MAX)
        return false;
    return reader.Units(&frame->path, reader.Left() / 2) && reader.Done();
}

std::vector<std::uint8_t> EncodeJavaFrame(const JavaFrame& frame)
{
    std::vector<std::uint8_t> body;
    PutLittleEndian(&body, frame.sequence, 4);
    body.insert(body.end(), frame.lookup.begin(), frame.lookup.end());
    return body;
}

bool DecodeJavaFrame(const std::uint8_t* body, std::size_t size, JavaFrame* frame)
{
    ByteReader reader(body, size);
    if (!reader.GetAs(&frame->sequence, 4))
        return false;
    frame->lookup.assign(reader.At(), reader.At() + reader.Left());
    return true;
}

std::string RequestKey(const DescribeRequest& request)
{
    std::string key(1, request.wide ? 'W' : 'A');
    if (!request.wide)
        return key + request.path;
    for (std::uint16_t unit : request.widePath)
        key += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return key;
}
