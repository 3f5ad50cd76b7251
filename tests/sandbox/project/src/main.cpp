// The launcher of the recompiled game.
int main() { return 0; }
