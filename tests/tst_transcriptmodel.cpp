// The transcript against a model of its rule, over many random runs of lines,
// bursts and user edits (tests/transcriptmodel.h; the fuzz target runs the same).
#include "transcriptmodel.h"

#include <QRandomGenerator>

class TestTranscriptModel : public QObject {
    Q_OBJECT
private slots:
    void matchesTheModel();
};

void TestTranscriptModel::matchesTheModel()
{
    for (quint32 seed = 1; seed <= 300; ++seed) {
        QRandomGenerator rng(seed);
        QByteArray bytes(400, Qt::Uninitialized);
        for (char& b : bytes)
            b = char(rng.bounded(256));
        transcriptmodel::Choices choices(bytes);
        const QString failure = transcriptmodel::run(choices);
        QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("seed %1: ").arg(seed) + failure));
    }
}

QTEST_MAIN(TestTranscriptModel)
#include "tst_transcriptmodel.moc"
