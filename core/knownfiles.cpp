#include "knownfiles.h"

FileFacts IdentifyFile(const FileIdentityFacts& facts)
{
    FileFacts file;
    if (!IsTrustedVolume(facts.driveType, facts.networkPath) || !facts.indexKnown)
        return file;
    if (facts.id128Known) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        bool zeros = true;
        bool ones = true;
        for (int i = 7; i >= 0; --i) {
            low = low << 8 | facts.id128[i];
            high = high << 8 | facts.id128[8 + i];
        }
        for (std::uint8_t byte : facts.id128) {
            zeros = zeros && byte == 0;
            ones = ones && byte == 0xFF;
        }
        if (!zeros && !ones) {
            file.kind = FILE_KEY_ID_128;
            file.volume = facts.volume64;
            file.idHigh = high;
            file.index = low;
            file.size = facts.size;
            file.lastWrite = facts.lastWrite;
        }
        // A volume that has 128-bit ids names no file by a 64-bit one.
        return file;
    }
    if (facts.index64 != 0 && facts.index64 != ~std::uint64_t(0)) {
        file.kind = FILE_KEY_INDEX_64;
        file.volume = facts.volume32;
        file.index = facts.index64;
        file.size = facts.size;
        file.lastWrite = facts.lastWrite;
    }
    return file;
}

bool IsTrustedVolume(unsigned driveType, bool networkPath)
{
    return (driveType == FILE_DRIVE_FIXED || driveType == FILE_DRIVE_RAMDISK) && !networkPath;
}
