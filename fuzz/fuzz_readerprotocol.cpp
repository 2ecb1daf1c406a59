// The frames between TaskRoll and its worker, as either side takes them from
// the other: any bytes split into frames that lie inside the input, and a
// body that decodes encodes to the very same bytes, so no two bodies decode
// alike and nothing of a body is left unchecked.
#include "fuzzcheck.h"
#include "readerprotocol.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

void CheckBody(ReaderFrame type, const std::uint8_t* body, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(body, body + size);
    DescribeRequest request;
    DescribeAnswer answer;
    FileFacts facts;
    std::uint32_t sequence = 0;
    switch (type) {
    case READER_FRAME_DESCRIBE:
        if (DecodeDescribeRequest(body, size, &request)) {
            FUZZ_CHECK(EncodeDescribeRequest(request) == bytes);
            FUZZ_CHECK(RequestKey(request).size() == 1 + (request.wide ? 2 * request.widePath.size() : request.path.size()));
        }
        break;
    case READER_FRAME_DESCRIBED:
        if (DecodeDescribeAnswer(body, size, &answer)) {
            FUZZ_CHECK(EncodeDescribeAnswer(answer) == bytes);
            for (const DescribedStrings& strings : answer.strings) {
                FUZZ_CHECK(strings.texts.size() <= READER_TEXTS_MAX);
                for (const std::string& text : strings.texts)
                    FUZZ_CHECK(text.size() <= READER_TEXT_MAX_BYTES && text.find('\0') == std::string::npos);
            }
        }
        break;
    case READER_FRAME_OPENED:
    case READER_FRAME_FAILED_FILE: {
        const bool opened = type == READER_FRAME_OPENED;
        if (DecodeFileFacts(body, size, opened ? &sequence : nullptr, &facts)) {
            FUZZ_CHECK(IsKnowable(facts));
            FUZZ_CHECK(EncodeFileFacts(opened ? &sequence : nullptr, facts) == bytes);
        }
        break;
    }
    case READER_FRAME_EXPAND:
    case READER_FRAME_EXPANDED: {
        PathFrame path;
        if (DecodePathFrame(body, size, &path))
            FUZZ_CHECK(EncodePathFrame(path) == bytes && path.path.size() <= READER_PATH_MAX);
        break;
    }
    default:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> input(data, data + size);
    for (bool fromWorker : {false, true}) {
        std::size_t at = 0;
        while (at < input.size()) {
            ReaderFrame type;
            const std::uint8_t* body = nullptr;
            std::size_t bodyBytes = 0, frameBytes = 0;
            FrameSplit split = SplitReaderFrame(input.data() + at, input.size() - at, fromWorker, &type, &body,
                                                &bodyBytes, &frameBytes);
            if (split != FRAME_WHOLE)
                break;
            FUZZ_CHECK(frameBytes == bodyBytes + READER_FRAME_HEADER_BYTES && frameBytes <= input.size() - at);
            FUZZ_CHECK(body == input.data() + at + READER_FRAME_HEADER_BYTES);
            CheckBody(type, body, bodyBytes);
            std::vector<std::uint8_t> again;
            FUZZ_CHECK(AppendReaderFrame(&again, type, std::vector<std::uint8_t>(body, body + bodyBytes)));
            FUZZ_CHECK(again.size() == frameBytes && std::equal(again.begin(), again.end(), input.begin() + at));
            at += frameBytes;
        }
    }
    // Every body is also taken as each kind, whatever frame it came in.
    for (ReaderFrame type : {READER_FRAME_DESCRIBE, READER_FRAME_DESCRIBED, READER_FRAME_OPENED,
                             READER_FRAME_FAILED_FILE, READER_FRAME_EXPAND})
        CheckBody(type, data, size);
    return 0;
}
