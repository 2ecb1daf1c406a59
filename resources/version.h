/* Version of both programs, shown in Windows' file properties. */
#define TOOLS_VERSION_NUMBERS 1,0,0,0
#define TOOLS_VERSION_TEXT "1.0.0.0"
