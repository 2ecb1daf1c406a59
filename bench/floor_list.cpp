// The list-mode floor: describes the executables named in a list file the way
// TaskRoll's /file: mode does, with the least work that can do it: each file's
// version resource is read once (size, block, \VarFileInfo\Translation and the
// FileDescription of the first translation), and one record is written per
// file, in TaskRoll's format: path TAB TAB description '$' CR LF.
//
//     floor_list.exe <list file> <output file>
#include "floor.h"

#include <cstring>


int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    FILE* input = std::fopen(argv[1], "r");
    FILE* output = std::fopen(argv[2], "w");
    if (input == nullptr || output == nullptr)
        return 1;
    std::vector<char> block;
    char line[1024];
    while (std::fgets(line, sizeof line, input) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        floors::WriteRecord(output, line, floors::Describe(line, block));
    }
    std::fclose(input);
    std::fclose(output);
    return 0;
}
