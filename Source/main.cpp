#include "App/application/PDApplication.h"

int main(int argc, char** argv)
{
    return kx::PDApplication::main(argc, argv);
}
