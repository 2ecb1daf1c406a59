// The Java lookup's messages: any bytes decoded as a request and as an answer.
// The format has one encoding for each message, so a decoded one encodes back
// to exactly the input, and that decodes again: a decoder that took anything
// the encoder's bounds refuse fails here.
#include "fuzzcheck.h"
#include "javalookup.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> input(data, data + size);
    std::vector<unsigned char> again;
    JavaRequest request;
    if (DecodeJavaRequest(data, size, &request)) {
        FUZZ_CHECK(EncodeJavaRequest(request, &again) && again == input);
        FUZZ_CHECK(DecodeJavaRequest(again.data(), again.size(), &request));
    }
    JavaAnswer answer;
    if (DecodeJavaAnswer(data, size, &answer)) {
        FUZZ_CHECK(EncodeJavaAnswer(answer, &again) && again == input);
        FUZZ_CHECK(DecodeJavaAnswer(again.data(), again.size(), &answer));
        JavaAnswerFitsRequest(request, answer);
    }
    return 0;
}
