// The frames between TaskRoll and its worker: what one side encodes the
// other decodes as it was, and what a worker taken over by a crafted file
// might send instead is refused whole.
#include "readerprotocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

DescribeAnswer Described()
{
    DescribeAnswer answer;
    answer.sequence = 0x01020304;
    answer.kind = DESCRIBED_FILE;
    answer.state = DESCRIBED_READ;
    answer.strings[0].texts = {"1.2.3"};
    answer.strings[1] = {true, {"English", std::string(READER_TEXT_MAX_BYTES, 'x')}};
    return answer;
}

}  // namespace

TEST(ReaderProtocol, BodiesComeBackAsSentAndNoPrefixOrLongerBodyDecodes)
{
    DescribeRequest ansi, wide;
    ansi.sequence = 7;
    ansi.path = "C:\\Windows\\notepad.exe";
    wide.wide = true;
    wide.widePath = {u'C', u':', u'\\', 0x41F, 0x65E5};
    FileFacts facts;
    facts.kind = FILE_KEY_ID_128;
    facts.volume = 9;
    facts.idHigh = 1;
    facts.index = 2;
    const std::uint32_t sequence = 5;
    const std::vector<std::pair<std::vector<std::uint8_t>, std::function<bool(const std::uint8_t*, std::size_t)>>>
        bodies = {
            {EncodeDescribeRequest(ansi),
             [&](const std::uint8_t* b, std::size_t n) {
                 DescribeRequest r;
                 return DecodeDescribeRequest(b, n, &r) && r.path == ansi.path && r.sequence == 7;
             }},
            {EncodeDescribeRequest(wide),
             [&](const std::uint8_t* b, std::size_t n) {
                 DescribeRequest r;
                 return DecodeDescribeRequest(b, n, &r) && r.widePath == wide.widePath && RequestKey(r) != RequestKey(ansi);
             }},
            {EncodeDescribeAnswer(Described()),
             [&](const std::uint8_t* b, std::size_t n) {
                 DescribeAnswer a;
                 return DecodeDescribeAnswer(b, n, &a) && a.strings[1].texts == Described().strings[1].texts &&
                        a.strings[1].found && !a.strings[0].found;
             }},
            {EncodePathFrame({3, true, wide.widePath}),
             [&](const std::uint8_t* b, std::size_t n) {
                 PathFrame p;
                 return DecodePathFrame(b, n, &p) && p.flag && p.path == wide.widePath;
             }},
            {EncodeFileFacts(&sequence, facts),
             [&](const std::uint8_t* b, std::size_t n) {
                 std::uint32_t s = 0;
                 FileFacts f;
                 return DecodeFileFacts(b, n, &s, &f) && s == 5 && f == facts;
             }},
        };
    for (const auto& [body, decodes] : bodies) {
        EXPECT_TRUE(decodes(body.data(), body.size()));
        for (std::size_t cut = 0; cut < body.size(); ++cut)
            EXPECT_FALSE(decodes(body.data(), cut)) << cut;
        std::vector<std::uint8_t> longer = body;
        longer.push_back(0);
        EXPECT_FALSE(decodes(longer.data(), longer.size()));
    }
}

TEST(ReaderProtocol, WhatNoWorkerSendsIsRefused)
{
    const std::vector<std::function<void(DescribeAnswer*)>> hostile = {
        [](DescribeAnswer* a) { a->strings[1].texts[1] += 'x'; },               // longer than a record keeps
        [](DescribeAnswer* a) { a->strings[0].texts[0][1] = '\0'; },            // a NUL inside a text
        [](DescribeAnswer* a) { a->strings[0].texts.resize(READER_TEXTS_MAX + 1, "t"); },
        [](DescribeAnswer* a) { a->state = DESCRIBED_UNREADABLE; },             // strings of no resource
        [](DescribeAnswer* a) { a->kind = DESCRIBED_MISSING; },
        [](DescribeAnswer* a) { a->failedBefore = true; },
        [](DescribeAnswer* a) { a->kind = static_cast<DescribedKind>(3); },
    };
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        DescribeAnswer answer = Described();
        hostile[i](&answer);
        const std::vector<std::uint8_t> body = EncodeDescribeAnswer(answer);
        DescribeAnswer decoded;
        EXPECT_FALSE(DecodeDescribeAnswer(body.data(), body.size(), &decoded)) << i;
    }

    // Frames: a length of nothing or beyond the largest body, a type the
    // sender never sends, and a frame not yet whole.
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(AppendReaderFrame(&frame, READER_FRAME_DESCRIBED, EncodeDescribeAnswer(Described())));
    ReaderFrame type;
    const std::uint8_t* body = nullptr;
    std::size_t bodyBytes = 0, frameBytes = 0;
    EXPECT_EQ(SplitReaderFrame(frame.data(), frame.size(), true, &type, &body, &bodyBytes, &frameBytes), FRAME_WHOLE);
    EXPECT_EQ(frameBytes, frame.size());
    EXPECT_EQ(SplitReaderFrame(frame.data(), frame.size(), false, &type, &body, &bodyBytes, &frameBytes),
              FRAME_INVALID);
    EXPECT_EQ(SplitReaderFrame(frame.data(), frame.size() - 1, true, &type, &body, &bodyBytes, &frameBytes),
              FRAME_INCOMPLETE);
    for (std::uint32_t length : {0u, static_cast<std::uint32_t>(READER_FRAME_BODY_MAX + 2), 0xFFFFFFFFu}) {
        const std::uint8_t bad[] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                    static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24),
                                    READER_FRAME_DESCRIBED};
        EXPECT_EQ(SplitReaderFrame(bad, sizeof bad, true, &type, &body, &bodyBytes, &frameBytes), FRAME_INVALID)
            << length;
    }
    EXPECT_FALSE(AppendReaderFrame(&frame, READER_FRAME_DESCRIBE, std::vector<std::uint8_t>(READER_FRAME_BODY_MAX + 1)));
}
