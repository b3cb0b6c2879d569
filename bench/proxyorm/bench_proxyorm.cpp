#include "proxyorm/aggregatebyrow.h"
#include "proxyorm/proxyormmodel.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSortFilterProxyModel>
#include <QTest>

#include <algorithm>
#include <memory>
#include <numeric>

using namespace ProxyOrm;

// ProxyOrmModel against QSortFilterProxyModel doing the same filtering and sorting over equal
// 100,000-row sources, side by side in one run. Each proxy has a source of its own, so that
// neither pays for the other's reaction to a change. The ratios (ours / Qt's, lower is better)
// are printed at the end. A grouped sum is timed against its own full recomputation, under
// changed values and under inserted rows.

namespace {

constexpr int Rows = 100000;
constexpr int ValueRole = Qt::UserRole + 1;
constexpr int KeyRole = Qt::UserRole + 2;
constexpr int SumRole = Qt::UserRole + 3;
constexpr int Groups = 1000;

// A lean source: one int per row.
class IntListModel : public QAbstractListModel
{
public:
    explicit IntListModel(QList<int> values)
        : m_values(std::move(values))
    { }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_values.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || role != ValueRole)
            return {};
        return m_values.at(index.row());
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        m_values[index.row()] = value.toInt();
        Q_EMIT dataChanged(index, index, { role });
        return true;
    }
    void insertValue(int at, int value)
    {
        beginInsertRows(QModelIndex(), at, at);
        m_values.insert(at, value);
        endInsertRows();
    }

private:
    QList<int> m_values;
};

// A lean source of key and value rows: row i starts in group i % Groups.
class GroupedListModel : public QAbstractListModel
{
public:
    explicit GroupedListModel(QList<int> values)
        : m_keys(values.size())
        , m_values(std::move(values))
    {
        for (int row = 0; row < m_keys.size(); ++row)
            m_keys[row] = row % Groups;
    }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_values.size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == KeyRole)
            return m_keys.at(index.row());
        if (role == ValueRole)
            return m_values.at(index.row());
        return {};
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        m_values[index.row()] = value.toInt();
        Q_EMIT dataChanged(index, index, { role });
        return true;
    }
    void insertRow(int at, int key, int value)
    {
        beginInsertRows(QModelIndex(), at, at);
        m_keys.insert(at, key);
        m_values.insert(at, value);
        endInsertRows();
    }
    int groupSum(int group) const
    {
        int sum = 0;
        for (int row = 0; row < m_values.size(); ++row) {
            if (m_keys.at(row) == group)
                sum += m_values.at(row);
        }
        return sum;
    }

private:
    QList<int> m_keys;
    QList<int> m_values;
};

// Every grouped sum, as a view showing all groups reads them after a change.
void readSums(const QAbstractItemModel &proxy)
{
    for (int row = 0; row < proxy.rowCount(); ++row)
        (void)proxy.data(proxy.index(row, 0), SumRole);
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

QStringList aggregateReport;

// Per-change time against the full recomputation, median and range of the runs.
QString aggregateLine(
    const QString &what, const QList<double> &changeTimes, const QList<double> &fullTimes)
{
    const auto range = [](const QList<double> &values) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return QStringLiteral("%1-%2").arg(*low, 0, 'f', 3).arg(*high, 0, 'f', 3);
    };
    const double change = median(changeTimes);
    const double full = median(fullTimes);
    return QStringLiteral("%1 per change %2 ms (%3)  full recomputation %4 ms (%5)  "
                          "ratio %6 (median of %7 runs)")
        .arg(what, -44)
        .arg(change, 0, 'f', 3)
        .arg(range(changeTimes))
        .arg(full, 0, 'f', 2)
        .arg(range(fullTimes))
        .arg(full > 0 ? change / full : 0.0, 0, 'f', 4)
        .arg(changeTimes.size());
}

// Keeps the rows whose value is below 500, as the ProxyOrmModel filter does.
class BelowFilterProxy : public QSortFilterProxyModel
{
public:
    bool filtering = false;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override
    {
        return !filtering
            || sourceModel()->index(sourceRow, 0, sourceParent).data(ValueRole).toInt() < 500;
    }
};

QList<int> valuesFor(const QString &input)
{
    QRandomGenerator random(42);
    QList<int> values(Rows);
    for (int i = 0; i < Rows; ++i) {
        if (input == QLatin1String("presorted"))
            values[i] = i;
        else if (input == QLatin1String("ties"))
            values[i] = int(random.bounded(10));
        else
            values[i] = int(random.bounded(1000));
    }
    return values;
}

QMap<QString, double> timings;

void note(const QString &name, qint64 nanoseconds)
{
    const double ms = double(nanoseconds) / 1e6;
    timings[name] = timings.contains(name) ? std::min(timings[name], ms) : ms;
}

} // namespace

class BenchProxyOrm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rebuild_data();
    void rebuild();
    void changes_data();
    void changes();
    void aggregateChanges();
    void aggregateInserts();
    void cleanupTestCase();
};

void BenchProxyOrm::rebuild_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<bool>("sort");
    QTest::addColumn<bool>("ours");

    const struct
    {
        const char *scenario;
        const char *input;
        bool filter;
        bool sort;
    } cases[] = {
        { "filter", "random", true, false },
        { "sort", "random", false, true },
        { "filter+sort", "random", true, true },
        { "presorted sort", "presorted", false, true },
        { "sort with many ties", "ties", false, true },
    };
    for (const auto &c : cases) {
        for (const bool ours : { true, false }) {
            const QString tag = QString::fromLatin1(c.scenario)
                + (ours ? QStringLiteral(" / ProxyOrmModel")
                        : QStringLiteral(" / QSortFilterProxyModel"));
            QTest::newRow(qPrintable(tag))
                << QString::fromLatin1(c.scenario) << QString::fromLatin1(c.input) << c.filter
                << c.sort << ours;
        }
    }
}

void BenchProxyOrm::rebuild()
{
    QFETCH(QString, scenario);
    QFETCH(QString, input);
    QFETCH(bool, filter);
    QFETCH(bool, sort);
    QFETCH(bool, ours);

    IntListModel source(valuesFor(input));
    QElapsedTimer timer;
    if (ours) {
        ProxyOrmModel proxy(&source, { { ValueRole, ValueRole } });
        if (filter)
            proxy.andWhere(ValueRole, Where(Where::Less, 500));
        if (sort)
            proxy.sort(ValueRole, Qt::AscendingOrder);
        QBENCHMARK
        {
            timer.start();
            proxy.invalidate();
            QVERIFY(proxy.rowCount() > 0);
            note(scenario + QStringLiteral("|ours"), timer.nsecsElapsed());
        }
    } else {
        BelowFilterProxy proxy;
        proxy.filtering = filter;
        proxy.setSortRole(ValueRole);
        proxy.setSourceModel(&source);
        if (sort)
            proxy.sort(0, Qt::AscendingOrder);
        QBENCHMARK
        {
            timer.start();
            proxy.invalidate();
            QVERIFY(proxy.rowCount() > 0);
            note(scenario + QStringLiteral("|qt"), timer.nsecsElapsed());
        }
    }
}

void BenchProxyOrm::changes_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("ours");
    for (const char *scenario : { "1000 inserts", "1000 inserts, deferred while disabled",
             "1000 setData on the sort role" }) {
        for (const bool ours : { true, false }) {
            if (!ours && QByteArray(scenario).contains("deferred"))
                continue;
            const QString tag = QString::fromLatin1(scenario)
                + (ours ? QStringLiteral(" / ProxyOrmModel")
                        : QStringLiteral(" / QSortFilterProxyModel"));
            QTest::newRow(qPrintable(tag)) << QString::fromLatin1(scenario) << ours;
        }
    }
}

void BenchProxyOrm::changes()
{
    QFETCH(QString, scenario);
    QFETCH(bool, ours);

    IntListModel source(valuesFor(QStringLiteral("random")));
    std::unique_ptr<ProxyOrmModel> ormProxy;
    std::unique_ptr<BelowFilterProxy> qtProxy;
    if (ours) {
        ormProxy = std::make_unique<ProxyOrmModel>(
            &source, QMap<int, int> { { ValueRole, ValueRole } });
        ormProxy->andWhere(ValueRole, Where(Where::Less, 500));
        ormProxy->sort(ValueRole, Qt::AscendingOrder);
        ormProxy->invalidate();
    } else {
        qtProxy = std::make_unique<BelowFilterProxy>();
        qtProxy->filtering = true;
        qtProxy->setSortRole(ValueRole);
        qtProxy->setSourceModel(&source);
        qtProxy->sort(0, Qt::AscendingOrder);
        (void)qtProxy->rowCount();
    }

    QRandomGenerator random(7);
    const bool deferred = scenario.contains(QLatin1String("deferred"));
    QElapsedTimer timer;
    QBENCHMARK_ONCE
    {
        timer.start();
        if (deferred)
            ormProxy->enabled(false);
        for (int i = 0; i < 1000; ++i) {
            const int row = int(random.bounded(source.rowCount()));
            const int value = int(random.bounded(1000));
            if (scenario.contains(QLatin1String("setData")))
                source.setData(source.index(row, 0), value, ValueRole);
            else
                source.insertValue(row, value);
        }
        if (deferred)
            ormProxy->enabled(true);
        note(scenario + (ours ? QStringLiteral("|ours") : QStringLiteral("|qt")),
            timer.nsecsElapsed());
    }
    QVERIFY(ours ? ormProxy->rowCount() > 0 : qtProxy->rowCount() > 0);
}

void BenchProxyOrm::aggregateChanges()
{
    // 1,000 setData on the value role under a sum over 1,000 groups of 100,000 rows, each followed
    // by a read of every group, against one recomputation of all groups: what every change cost
    // when any change dropped all aggregates.
    constexpr int Changes = 1000;
    constexpr int Runs = 3;
    QList<double> changeTimes, fullTimes;
    for (int run = 0; run < Runs; ++run) {
        GroupedListModel source(valuesFor(QStringLiteral("random")));
        ProxyOrmModel proxy(&source, { { KeyRole, KeyRole }, { ValueRole, ValueRole } });
        AggregateByRow sum(&source, KeyRole, ValueRole, TypeAggregate::Sum, SumRole);
        proxy.addSource(&sum);
        proxy.groupBy(KeyRole);
        proxy.invalidate();
        QCOMPARE(proxy.rowCount(), Groups);

        QElapsedTimer timer;
        timer.start();
        sum.invalidateCache(-1, -1);
        readSums(proxy);
        fullTimes << double(timer.nsecsElapsed()) / 1e6;

        QRandomGenerator random(7 + quint32(run));
        timer.start();
        for (int i = 0; i < Changes; ++i) {
            const int row = int(random.bounded(source.rowCount()));
            source.setData(source.index(row, 0), int(random.bounded(1000)), ValueRole);
            readSums(proxy);
        }
        changeTimes << double(timer.nsecsElapsed()) / 1e6 / Changes;

        for (int group : { 0, 1, Groups - 1 }) {
            const QModelIndex index = proxy.index(group, 0);
            QCOMPARE(proxy.data(index, SumRole).toInt(),
                source.groupSum(proxy.data(index, KeyRole).toInt()));
        }
    }
    aggregateReport << aggregateLine(
        QStringLiteral("grouped sum, 1000 setData on the value role"), changeTimes, fullTimes);
}

void BenchProxyOrm::aggregateInserts()
{
    // 1,000 single-row inserts into 100,000 rows under a sum over 1,000 groups, shown on every
    // row of a proxy that follows them, each followed by a read of one row of every group.
    constexpr int Changes = 1000;
    constexpr int Runs = 3;
    QList<double> changeTimes, fullTimes;
    for (int run = 0; run < Runs; ++run) {
        GroupedListModel source(valuesFor(QStringLiteral("random")));
        ProxyOrmModel proxy(&source, { { KeyRole, KeyRole }, { ValueRole, ValueRole } });
        AggregateByRow sum(&source, KeyRole, ValueRole, TypeAggregate::Sum, SumRole);
        proxy.addSource(&sum);
        proxy.invalidate();
        QCOMPARE(proxy.rowCount(), Rows);
        // A row of each group, kept in place as rows arrive above it.
        QList<int> rowOf(Groups);
        std::iota(rowOf.begin(), rowOf.end(), 0);
        const auto readGroups = [&] {
            for (const int row : std::as_const(rowOf))
                (void)proxy.data(proxy.index(row, 0), SumRole);
        };

        QElapsedTimer timer;
        timer.start();
        sum.invalidateCache(-1, -1);
        readGroups();
        fullTimes << double(timer.nsecsElapsed()) / 1e6;

        QRandomGenerator random(11 + quint32(run));
        timer.start();
        for (int i = 0; i < Changes; ++i) {
            const int at = int(random.bounded(source.rowCount() + 1));
            source.insertRow(at, int(random.bounded(Groups)), int(random.bounded(1000)));
            for (int &row : rowOf) {
                if (row >= at)
                    ++row;
            }
            readGroups();
        }
        changeTimes << double(timer.nsecsElapsed()) / 1e6 / Changes;

        QCOMPARE(proxy.rowCount(), Rows + Changes);
        for (const int group : { 0, 1, Groups - 1 }) {
            const QModelIndex index = proxy.index(rowOf.at(group), 0);
            QCOMPARE(proxy.data(index, KeyRole).toInt(), group);
            QCOMPARE(proxy.data(index, SumRole).toInt(), source.groupSum(group));
        }
    }
    aggregateReport << aggregateLine(
        QStringLiteral("grouped sum, 1000 single-row inserts"), changeTimes, fullTimes);
}

void BenchProxyOrm::cleanupTestCase()
{
    QStringList scenarios;
    for (auto it = timings.constBegin(); it != timings.constEnd(); ++it) {
        const QString scenario = it.key().section(QLatin1Char('|'), 0, 0);
        if (!scenarios.contains(scenario))
            scenarios << scenario;
    }
    const double qtInserts = timings.value(QStringLiteral("1000 inserts|qt"));
    for (const QString &scenario : std::as_const(scenarios)) {
        const double ours = timings.value(scenario + QStringLiteral("|ours"));
        double qt = timings.value(scenario + QStringLiteral("|qt"));
        if (scenario.contains(QLatin1String("deferred")))
            qt = qtInserts;
        qInfo("%-40s ProxyOrmModel %9.2f ms  QSortFilterProxyModel %9.2f ms  ratio %.2f",
            qPrintable(scenario), ours, qt, qt > 0 ? ours / qt : 0.0);
    }
    for (const QString &line : std::as_const(aggregateReport))
        qInfo("%s", qPrintable(line));
}

QTEST_GUILESS_MAIN(BenchProxyOrm)
#include "bench_proxyorm.moc"
