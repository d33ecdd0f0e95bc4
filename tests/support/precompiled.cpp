// The program that compiles the header every test source shares, precompiled; it does nothing.
int main() { return 0; }
