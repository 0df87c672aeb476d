// Any sequence of lines, bursts and user edits on the transcript box: after
// every step its text and caret are what the model of its rule says.
#include "transcriptmodel.h"

#include <cstdio>
#include <cstdlib>

// fontconfig keeps what it reads about fonts for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_transcript";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
    transcriptmodel::Choices choices(QByteArrayView(data, qsizetype(size)));
    const QString failure = transcriptmodel::run(choices);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "transcript: %s\n", qPrintable(failure));
        std::abort();
    }
    return 0;
}
