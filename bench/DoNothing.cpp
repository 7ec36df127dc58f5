// The floor of start-up: a program that does nothing, linked exactly like
// quillet (see bench/CMakeLists.txt), so that its instruction count is what
// loading quillet's dependencies costs before any work.
int main()
{
    return 0;
}
