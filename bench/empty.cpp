// The start-up floor: a program that does nothing, linked like ours.
int main() { return 0; }
