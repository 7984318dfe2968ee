#include <cstdio>

int main()
{
    std::fputs("vtxt 23.8.0\n", stdout);
    return 0;
}
