// Time of one transcript insertion (the line put on top, the caret moved, the
// window brought up to date) with 100, 10,000 and 100,000 lines already shown.
// The reference is the same figure at 100 lines: a long transcript should cost
// about as much per line as a short one.
#include "app/Appearance.h"
#include "platform/forms/Placement.h"
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;          // fresh transcripts per size
constexpr int kInsertions = 200;  // timed insertions per transcript

// A received chat line of about 100 characters, Japanese and ASCII mixed, as the
// window would show it.
QString chatLine(int i)
{
    QString text = QStringLiteral("%1 今日の会議は 3 時からです。資料は共有フォルダにあります。").arg(i, 6, 10, QChar(u'0'));
    while (text.size() < 100)
        text += QStringLiteral(" ok");
    return vesk::transcriptLine(vesk::kPartnerLabel, text);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_transcript: %s\n", what);
    std::exit(1);
}

vesk::TranscriptBox* newBox()
{
    // The size the conversation window gives its transcript.
    auto* box = new vesk::TranscriptBox;
    box->resize(vesk::twips(3735), vesk::twips(2415));
    box->show();
    QApplication::processEvents();
    return box;
}

// Drops the top line without timing it, so every timed insertion finds the
// same number of lines.
void dropTopLine(vesk::TranscriptBox* box)
{
    QTextDocument* doc = box->document();
    doc->setUndoRedoEnabled(false);
    QTextCursor c(doc->firstBlock());
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    c.removeSelectedText();
    doc->setUndoRedoEnabled(true);
}

// Median microseconds of one insertion into a transcript holding `lines` lines.
double insertionMicros(int lines)
{
    std::vector<double> perRun;
    for (int run = 0; run < kRuns; ++run) {
        vesk::TranscriptBox* box = newBox();
        box->beginBatch();
        for (int i = 0; i < lines; ++i)
            box->insertLine(chatLine(i));
        box->endBatch();
        QApplication::processEvents();
        if (box->document()->blockCount() != lines + 1)
            fail("the filled transcript does not hold the lines put in");

        std::vector<double> times;
        times.reserve(kInsertions);
        for (int k = 0; k < kInsertions; ++k) {
            const QString line = chatLine(lines + k);
            const auto start = Clock::now();
            box->insertLine(line);
            QApplication::processEvents(); // layout and paint, as the event loop would
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            if (box->document()->firstBlock().text() + QStringLiteral("\r\n") != line)
                fail("an inserted line is not on top");
            dropTopLine(box);
            QApplication::processEvents();
        }
        perRun.push_back(median(times));
        delete box;
    }
    return median(perRun);
}

// A burst grouped into one edit must show exactly what inserting the lines one
// by one shows: the same text and the caret in the same place.
void checkBatchMatchesSingleInsertions()
{
    vesk::TranscriptBox* single = newBox();
    vesk::TranscriptBox* batched = newBox();
    single->insertLine(chatLine(-1));
    batched->insertLine(chatLine(-1));
    batched->beginBatch();
    for (int i = 0; i < 500; ++i) {
        single->insertLine(chatLine(i));
        batched->insertLine(chatLine(i));
    }
    batched->endBatch();
    if (single->windowsText() != batched->windowsText())
        fail("a batch shows other text than single insertions");
    if (single->caretPosition() != batched->caretPosition())
        fail("a batch leaves the caret elsewhere than single insertions");
    delete single;
    delete batched;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesk::applyAppearance(app);

    checkBatchMatchesSingleInsertions();

    const int sizes[] = {100, 10'000, 100'000};
    double micros[3];
    for (int i = 0; i < 3; ++i) {
        micros[i] = insertionMicros(sizes[i]);
        std::printf("transcript insertion with %7d lines shown: %8.1f us (median of %d x %d)\n", sizes[i],
                    micros[i], kRuns, kInsertions);
    }
    std::printf("RESULT | transcript insertion at 100 lines | %.1f | - | - | us | -\n", micros[0]);
    std::printf("RESULT | transcript insertion at 10,000 lines | %.1f | %.1f | ours at 100 lines | us | -\n",
                micros[1], micros[0]);
    std::printf("RESULT | transcript insertion at 100,000 lines | %.1f | %.1f | ours at 100 lines | us | <=1.5\n",
                micros[2], micros[0]);
    return 0;
}
