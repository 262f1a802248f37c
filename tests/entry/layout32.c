/* Compiled for a 32-bit target: kor.h checks every offset of the records there. */
#include <roderavo/kor.h>

_Static_assert(sizeof(void*) == 4, "compiled for a 32-bit target");
_Static_assert(sizeof(KorCall) == 20, "KorCall is five words");
_Static_assert(sizeof(DriverContext) == 36, "DriverContext with its padding");

int main(void) {
    return 0;
}
