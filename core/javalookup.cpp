#include "javalookup.h"

#include "bytecodec.h"

namespace {

// A SID as the system lays it out: revision 1, a count of subauthorities, six
// bytes of authority, four bytes per subauthority. A worker given anything
// else would hand the system's SID functions a length they read beyond.
bool IsSidLayout(const std::vector<unsigned char>& sid)
{
    return sid.size() >= 8 && sid.size() <= JAVA_SID_MAX_BYTES && sid[0] == 1 && sid[1] <= 15 &&
           sid.size() == 8 + 4 * static_cast<std::size_t>(sid[1]);
}

bool IsText(const std::string& text, std::size_t maxBytes)
{
    return text.size() <= maxBytes && text.find('\0') == std::string::npos;
}

bool IsPlace(const JavaPlace& place, std::uint32_t lowestIndex)
{
    if (place.planIndex < lowestIndex || place.planIndex >= JAVA_PLACES_MAX || place.directory.empty() ||
        !IsText(place.directory, JAVA_PATH_MAX_BYTES) || place.names.size() > JAVA_NAMES_MAX)
        return false;
    for (const std::string& name : place.names) {
        if (name.empty() || !IsText(name, JAVA_PATH_MAX_BYTES))
            return false;
    }
    return true;
}

// The one set of rules both the encoder and the decoder keep, so that what
// one side may send the other always takes.
bool IsRequest(const JavaRequest& request)
{
    if (!IsText(request.tempFile, JAVA_PATH_MAX_BYTES) || (request.tempOwnerRule && !IsSidLayout(request.tempOwnerSid)) ||
        (!request.tempOwnerRule && !request.tempOwnerSid.empty()))
        return false;
    if (request.ownerKnown ? !IsSidLayout(request.ownerSid) || !IsText(request.ownerSidText, JAVA_SID_TEXT_MAX_BYTES)
                           : !request.ownerSid.empty() || !request.ownerSidText.empty() || !request.places.empty())
        return false;
    if (request.places.size() > JAVA_PLACES_MAX)
        return false;
    std::uint32_t lowestIndex = 0;
    for (const JavaPlace& place : request.places) {
        if (!IsPlace(place, lowestIndex))
            return false;
        lowestIndex = place.planIndex + 1;
    }
    return true;
}

bool IsAnswer(const JavaAnswer& answer)
{
    return answer.end >= JAVA_READ_FROM_TEMP && answer.end <= JAVA_NOT_FOUND && answer.planIndex < JAVA_PLACES_MAX &&
           IsText(answer.path, JAVA_PATH_MAX_BYTES) && IsText(answer.value, JAVA_VALUE_MAX_BYTES);
}

// The lookup's own layout: 32-bit numbers, texts after a 32-bit length,
// SIDs after an 8-bit one.
struct Writer {
    std::vector<unsigned char> bytes;

    void Byte(unsigned value) { PutLittleEndian(&bytes, value, 1); }
    void Number(std::uint32_t value) { PutLittleEndian(&bytes, value, 4); }
    void Text(const std::string& text)
    {
        Number(static_cast<std::uint32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    void Sid(const std::vector<unsigned char>& sid)
    {
        Byte(static_cast<unsigned>(sid.size()));
        bytes.insert(bytes.end(), sid.begin(), sid.end());
    }
};

// Each read fails once the input is short, and every one after it too. A
// length is checked against its bound and the input before any memory is
// taken for it.
struct Reader {
    ByteReader in;

    bool Byte(unsigned* value) { return in.GetAs(value, 1); }
    bool Flag(bool* value) { return in.Flag(value); }
    bool Number(std::uint32_t* value) { return in.GetAs(value, 4); }
    bool Text(std::string* text, std::size_t maxBytes)
    {
        std::uint32_t size = 0;
        return Number(&size) && size <= maxBytes && in.Text(text, size);
    }
    bool Sid(std::vector<unsigned char>* sid)
    {
        unsigned size = 0;
        return Byte(&size) && size <= JAVA_SID_MAX_BYTES && in.Bytes(sid, size) && IsSidLayout(*sid);
    }
    bool Done() const { return in.Done(); }
};

bool ReadPlace(Reader* in, JavaPlace* place)
{
    unsigned names = 0;
    if (!in->Number(&place->planIndex) || !in->Text(&place->directory, JAVA_PATH_MAX_BYTES) ||
        !in->Flag(&place->anyPerfDirectory) || !in->Byte(&names) || names > JAVA_NAMES_MAX)
        return false;
    place->names.resize(names);
    for (std::string& name : place->names) {
        if (!in->Text(&name, JAVA_PATH_MAX_BYTES))
            return false;
    }
    return in->Flag(&place->ownerRule);
}

}  // namespace

bool EncodeJavaRequest(const JavaRequest& request, std::vector<unsigned char>* bytes)
{
    if (!IsRequest(request))
        return false;
    Writer out;
    out.Number(request.processId);
    out.Text(request.tempFile);
    out.Byte(request.tempOwnerRule);
    if (request.tempOwnerRule)
        out.Sid(request.tempOwnerSid);
    out.Byte(request.ownerKnown);
    if (request.ownerKnown) {
        out.Sid(request.ownerSid);
        out.Text(request.ownerSidText);
    }
    out.Byte(static_cast<unsigned>(request.places.size()));
    for (const JavaPlace& place : request.places) {
        out.Number(place.planIndex);
        out.Text(place.directory);
        out.Byte(place.anyPerfDirectory);
        out.Byte(static_cast<unsigned>(place.names.size()));
        for (const std::string& name : place.names)
            out.Text(name);
        out.Byte(place.ownerRule);
    }
    *bytes = std::move(out.bytes);
    return true;
}

bool DecodeJavaRequest(const unsigned char* data, std::size_t size, JavaRequest* request)
{
    Reader in{ByteReader(data, size)};
    *request = JavaRequest();
    if (!in.Number(&request->processId) || !in.Text(&request->tempFile, JAVA_PATH_MAX_BYTES) ||
        !in.Flag(&request->tempOwnerRule) || (request->tempOwnerRule && !in.Sid(&request->tempOwnerSid)) ||
        !in.Flag(&request->ownerKnown))
        return false;
    if (request->ownerKnown &&
        (!in.Sid(&request->ownerSid) || !in.Text(&request->ownerSidText, JAVA_SID_TEXT_MAX_BYTES)))
        return false;
    unsigned places = 0;
    if (!in.Byte(&places) || places > JAVA_PLACES_MAX)
        return false;
    request->places.resize(places);
    for (JavaPlace& place : request->places) {
        if (!ReadPlace(&in, &place))
            return false;
    }
    return in.Done() && IsRequest(*request);
}

bool EncodeJavaAnswer(const JavaAnswer& answer, std::vector<unsigned char>* bytes)
{
    if (!IsAnswer(answer))
        return false;
    Writer out;
    out.Byte(answer.end);
    out.Number(answer.planIndex);
    out.Text(answer.path);
    out.Text(answer.value);
    *bytes = std::move(out.bytes);
    return true;
}

bool DecodeJavaAnswer(const unsigned char* data, std::size_t size, JavaAnswer* answer)
{
    Reader in{ByteReader(data, size)};
    *answer = JavaAnswer();
    unsigned end = 0;
    if (!in.Byte(&end) || end < JAVA_READ_FROM_TEMP || end > JAVA_NOT_FOUND)
        return false;
    answer->end = static_cast<JavaEnd>(end);
    return in.Number(&answer->planIndex) && in.Text(&answer->path, JAVA_PATH_MAX_BYTES) &&
           in.Text(&answer->value, JAVA_VALUE_MAX_BYTES) && in.Done() && IsAnswer(*answer);
}

bool JavaAnswerFitsRequest(const JavaRequest& request, const JavaAnswer& answer)
{
    if (answer.end == JAVA_READ_FROM_TEMP)
        return !request.tempFile.empty() && answer.path == request.tempFile && answer.planIndex == 0;
    if (answer.end == JAVA_NOT_FOUND)
        return answer.path.empty() && answer.value.empty() && answer.planIndex == 0;
    if (answer.end == JAVA_BUDGET_SPENT && !answer.value.empty())
        return false;
    // A candidate is a file in one of the place's hsperfdata_ directories,
    // whose name the listing gives in the case it was made in.
    static const char prefix[] = "\\hsperfdata_";
    for (const JavaPlace& place : request.places) {
        if (place.planIndex != answer.planIndex)
            continue;
        const std::size_t at = place.directory.size();
        if (answer.path.size() < at + sizeof prefix - 1 || answer.path.compare(0, at, place.directory) != 0)
            return false;
        for (std::size_t i = 0; i + 1 < sizeof prefix; ++i) {
            const char c = answer.path[at + i];
            if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != prefix[i])
                return false;
        }
        return true;
    }
    return false;
}
