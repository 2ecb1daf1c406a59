// The enumeration mode's fixture process, like tests/fixtures/waiter.cpp: it
// stays alive until its standard input reaches its end, which happens when the
// runner closes the pipe or ends. Once it runs it tells the runner so through
// the runner's named semaphore (instead of the test fixture's "R" on standard
// output, which here goes to a file).
#include <windows.h>

int main()
{
    HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, L"TaskToolsBenchWaiterReady");
    if (ready != nullptr) {
        ReleaseSemaphore(ready, 1, nullptr);
        CloseHandle(ready);
    }
    DWORD count = 0;
    char byte;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
    }
    return 0;
}
