// Benchmarks of the program's slots at scale come here; for now the target
// only proves that the library links into a second program.
#include "data/csv.h"

#include <cstdio>

int main()
{
    std::printf("%lld fields\n", static_cast<long long>(splitCsvLine(QStringLiteral("a,b,c\n")).size()));
    return 0;
}
