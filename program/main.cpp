#include "program/quembe.h"

#include "platform/application.h"

int main(int argc, char** argv) {
    Platform::TApplication app(argc, argv);
    return Quembe::run(app);
}
