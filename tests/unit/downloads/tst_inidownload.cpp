// The product ini step: what it fetches depending on the files already in
// the temporary directory, the real unpack of the container, and the real
// RSA check with the demo key pair.

#include <sys/resource.h>
#include <QFile>
#include <QtTest>
#include <csignal>

#include "checksignaturetaskspecification.h"
#include "downloadtestenv.h"
#include "inidownloadtaskspecification.h"
#include "rsacrypt.h"
#include "vxdelta.h"

using vxmtest::HttpReply;

namespace {

const QByteArray kIniText = "[client]\nbin/app=h1::1000\n";

bool writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray signWithDemoKey(const QByteArray &message) {
    RsaKey key = RsaCrypt::importFromFile(VXM_DEMO_PRIVATE_KEY);
    const std::vector<unsigned char> signature =
        RsaCrypt::sign(reinterpret_cast<const unsigned char *>(message.constData()),
                       std::size_t(message.size()), key);
    return QByteArray(reinterpret_cast<const char *>(signature.data()), int(signature.size()));
}

QList<double> weightsOf(const ComposedTaskSpecification &task) {
    QList<double> weights;
    for (const TaskSpecification *t : task.subtasks()) {
        weights.append(t->weight());
    }
    return weights;
}

bool sameWeights(const QList<double> &a, const QList<double> &b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (int i = 0; i < a.size(); ++i) {
        if (!qFuzzyCompare(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

/// Caps the size of every file this process writes for its lifetime, the
/// way a full disk or a kill in the middle of a write cuts a file short;
/// writes past the cap fail instead of raising SIGXFSZ.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        m_SavedHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_Saved);
        rlimit cap = m_Saved;
        cap.rlim_cur = bytes;
        m_Active = setrlimit(RLIMIT_FSIZE, &cap) == 0;
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &m_Saved);
        std::signal(SIGXFSZ, m_SavedHandler);
    }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;
    bool isActive() const { return m_Active; }

private:
    rlimit m_Saved{};
    void (*m_SavedHandler)(int) = SIG_DFL;
    bool m_Active = false;
};

}  // namespace

class IniDownloadTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void names_data();
    void names();
    void fetchesOnlyWhatIsMissing_data();
    void fetchesOnlyWhatIsMissing();
    void badSignatureFailsWithBothMessages();
    void damagedContainerFailsBeforeTheCheck();
    void unpackCutShortLeavesNoIni();

private:
    /// The compressed ini and its signature, as the server holds them.
    void prepareRelease(int pass, const QByteArray &text = kIniText);
    void deleteTask();
    /// Creates the task for `pass`, watched by m_Probe, and executes it.
    IniDownloadTaskSpecification *startTask(int pass);

    DownloadTestEnv *m_Env = nullptr;
    IniDownloadTaskSpecification *m_Task = nullptr;
    QScopedPointer<TaskProbe> m_Probe;
    QByteArray m_Compressed;
    QByteArray m_Signature;
};

void IniDownloadTest::initTestCase() {
    RsaCrypt::registerAlgorithms();
}

void IniDownloadTest::init() {
    m_Env = new DownloadTestEnv;
    QVERIFY(m_Env->isReady());
}

void IniDownloadTest::cleanup() {
    deleteTask();
    delete m_Env;
    m_Env = nullptr;
}

void IniDownloadTest::deleteTask() {
    m_Probe.reset();
    delete m_Task;
    m_Task = nullptr;
}

void IniDownloadTest::prepareRelease(int pass, const QByteArray &text) {
    const QString plain = m_Env->localPath("release.ini");
    const QString packed = plain + "._lzma2_";
    QVERIFY(writeFile(plain, text));
    QVERIFY(vxdelta::CompressFile(plain.toUtf8().constData(), packed.toUtf8().constData(), false));
    m_Compressed = readFile(packed);
    m_Signature = signWithDemoKey(text);
    QVERIFY(QFile::remove(plain) && QFile::remove(packed));
    m_Env->serve(IniDownloadTaskSpecification::compressedName(pass), HttpReply::ok(m_Compressed));
    m_Env->serve(IniDownloadTaskSpecification::signatureName(pass), HttpReply::ok(m_Signature));
}

IniDownloadTaskSpecification *IniDownloadTest::startTask(int pass) {
    m_Env->m_Configuration.m_IsClientUpdate = pass;
    m_Task =
        new IniDownloadTaskSpecification(&m_Env->m_Manager, &m_Env->m_Configuration, nullptr, 0.1);
    m_Probe.reset(new TaskProbe(m_Task));
    m_Task->execute();
    return m_Task;
}

void IniDownloadTest::names_data() {
    QTest::addColumn<int>("pass");
    QTest::addColumn<QString>("ini");
    QTest::newRow("client pass") << 1 << "vxm_client_macosx.ini";
    QTest::newRow("updater pass") << 0 << "update_macosx.ini";
    QTest::newRow("other non-zero flag") << 2 << "client_macosx.ini";
}

void IniDownloadTest::names() {
    QFETCH(int, pass);
    QFETCH(QString, ini);
    QCOMPARE(IniDownloadTaskSpecification::iniName(pass), ini);
    QCOMPARE(IniDownloadTaskSpecification::compressedName(pass), ini + "._lzma2_");
    QCOMPARE(IniDownloadTaskSpecification::signatureName(pass), ini + ".sig");
}

void IniDownloadTest::fetchesOnlyWhatIsMissing_data() {
    QTest::addColumn<int>("pass");
    QTest::addColumn<bool>("iniPresent");
    QTest::addColumn<bool>("sigPresent");
    QTest::addColumn<QList<double>>("weights");
    QTest::addColumn<bool>("missingLeftEmpty");
    const QList<double> neither{0.3333, 1.0, 0.3333, 0.3334};
    QTest::newRow("neither, client pass") << 1 << false << false << neither << false;
    QTest::newRow("neither, updater pass") << 0 << false << false << neither << false;
    QTest::newRow("signature only")
        << 1 << false << true << QList<double>{0.3333, 1.0, 0.6667} << false;
    QTest::newRow("ini only") << 1 << true << false << QList<double>{0.3333, 0.6667} << false;
    QTest::newRow("both: no network access") << 1 << true << true << QList<double>{1.0} << false;
    // A run killed just after it created a file leaves it empty; such a file
    // is fetched again instead of failing the check in every later run.
    QTest::newRow("both left empty by an interrupted run")
        << 1 << false << false << neither << true;
    QTest::newRow("empty signature beside the ini")
        << 0 << true << false << QList<double>{0.3333, 0.6667} << true;
}

void IniDownloadTest::fetchesOnlyWhatIsMissing() {
    QFETCH(int, pass);
    QFETCH(bool, iniPresent);
    QFETCH(bool, sigPresent);
    QFETCH(QList<double>, weights);
    QFETCH(bool, missingLeftEmpty);
    prepareRelease(pass);
    const QString ini = m_Env->localPath(IniDownloadTaskSpecification::iniName(pass));
    if (iniPresent || missingLeftEmpty) {
        QVERIFY(writeFile(ini, iniPresent ? kIniText : QByteArray()));
    }
    if (sigPresent || missingLeftEmpty) {
        QVERIFY(writeFile(ini + ".sig", sigPresent ? m_Signature : QByteArray()));
    }
    IniDownloadTaskSpecification *task = startTask(pass);
    QVERIFY2(sameWeights(weightsOf(*task), weights), qPrintable(QTest::toString(weightsOf(*task))));
    QVERIFY(m_Probe->waitForEnd());
    QCOMPARE(task->state(), int(Finished));
    QCOMPARE(task->doneFrac(), 0.1);
    QCOMPARE(m_Probe->messages().first(), QStringLiteral("Download / check product ini"));
    QCOMPARE(readFile(ini), kIniText);
    QCOMPARE(readFile(ini + ".sig"), m_Signature);
    QCOMPARE(m_Env->requestCount(IniDownloadTaskSpecification::compressedName(pass)),
             iniPresent ? 0 : 1);
    QCOMPARE(m_Env->requestCount(IniDownloadTaskSpecification::signatureName(pass)),
             sigPresent ? 0 : 1);
    QCOMPARE(m_Env->m_Server.requests().size(), int(!iniPresent) + int(!sigPresent));
}

void IniDownloadTest::badSignatureFailsWithBothMessages() {
    prepareRelease(1);
    m_Env->serve(IniDownloadTaskSpecification::signatureName(1),
                 HttpReply::ok(signWithDemoKey("some other text")));
    IniDownloadTaskSpecification *task = startTask(1);
    QVERIFY(m_Probe->waitForEnd());
    QCOMPARE(task->state(), int(Failed));
    const QString ini = m_Env->localPath("vxm_client_macosx.ini");
    const QStringList messages = m_Probe->messages();
    const int checkFailed = messages.indexOf("Signature check failed for " + ini);
    QVERIFY(checkFailed > 0);
    QCOMPARE(messages.value(checkFailed + 1),
             QStringLiteral("Could not verify the product ini file. Aborting"));
    // Nothing is deleted: a later run checks the same files again.
    QVERIFY(QFile::exists(ini));
    QVERIFY(QFile::exists(ini + ".sig"));
}

void IniDownloadTest::damagedContainerFailsBeforeTheCheck() {
    prepareRelease(1);
    QByteArray damaged = m_Compressed;
    damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x55);
    m_Env->serve(IniDownloadTaskSpecification::compressedName(1), HttpReply::ok(damaged));
    IniDownloadTaskSpecification *task = startTask(1);
    QVERIFY(m_Probe->waitForEnd());
    QCOMPARE(task->state(), int(Failed));
    QCOMPARE(task->subtasks().last()->state(), int(Idle));
    QCOMPARE(m_Env->requestCount(IniDownloadTaskSpecification::signatureName(1)), 0);
    QVERIFY(!QFile::exists(m_Env->localPath("vxm_client_macosx.ini")));
    QVERIFY(m_Probe->messages().join('\n').contains("Could not unpack '"));
}

void IniDownloadTest::unpackCutShortLeavesNoIni() {
    // An ini far larger than its container: a size cap between the two lets
    // the download through and cuts the unpack's write short.
    QByteArray text = kIniText;
    for (int i = 0; text.size() < 256 * 1024; ++i) {
        text += "res/file" + QByteArray::number(i) + ".png=h" + QByteArray::number(i) + "::1\n";
    }
    prepareRelease(1, text);
    const rlim_t cap = 64 * 1024;
    QVERIFY(rlim_t(m_Compressed.size()) < cap);
    const QString ini = m_Env->localPath("vxm_client_macosx.ini");
    {
        FileSizeCap sizeCap(cap);
        QVERIFY(sizeCap.isActive());
        startTask(1);
        QVERIFY(m_Probe->waitForEnd());
    }
    QCOMPARE(m_Task->state(), int(Failed));
    QVERIFY(m_Probe->messages().join('\n').contains("Could not unpack '"));
    // A part of the ini left here would be taken as the ini by the next run.
    QVERIFY(!QFile::exists(ini));
    QVERIFY(!QFile::exists(ini + ".unpacking"));

    deleteTask();
    IniDownloadTaskSpecification *again = startTask(1);
    QVERIFY(m_Probe->waitForEnd());
    QCOMPARE(again->state(), int(Finished));
    QCOMPARE(readFile(ini), text);
}

QTEST_GUILESS_MAIN(IniDownloadTest)
#include "tst_inidownload.moc"
