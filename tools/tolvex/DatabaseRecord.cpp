#include "DatabaseRecord.h"

#include "JobPlan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

DatabaseProductionRecord::DatabaseProductionRecord(const PoolUrl &url,
                                                   const MacPoolTimeouts &timeouts)
    : m_url(url), m_timeouts(timeouts),
      m_database(std::make_shared<std::unique_ptr<MacPoolDatabase>>()),
      m_thread(QStringLiteral("record database"))
{
}

DatabaseProductionRecord::~DatabaseProductionRecord()
{
    // QtSql's rule: the connection ends on the thread that opened it.
    auto database = m_database;
    m_thread.Finish([database] { database->reset(); });
}

void DatabaseProductionRecord::Append(const QJsonObject &line, QObject *context, Done done)
{
    auto database = m_database;
    const PoolUrl url = m_url;
    const MacPoolTimeouts timeouts = m_timeouts;
    m_thread.Post(
        context,
        [database, url, timeouts, line] {
            if (!*database) {
                *database = std::make_unique<MacPoolDatabase>(url, timeouts);
                (*database)->DescribeAs(QStringLiteral("production record"));
            }
            QString error;
            const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact);
            return (*database)->AppendRecordLine(line, text, &error) ? QString() : error;
        },
        std::move(done));
}

bool ParseRecordUrl(const QString &text, PoolUrl *url, QString *error)
{
    const bool database = text.startsWith(QLatin1String("sqlite:")) ||
                          text.startsWith(QLatin1String("postgresql://")) ||
                          text.startsWith(QLatin1String("postgres://"));
    if (!database && !text.startsWith(QLatin1String("file:"))) {
        *url = PoolUrl();
        url->path = text;
    } else if (!ParsePoolUrl(text, url, error)) {
        *error = QStringLiteral("--record: ") + *error;
        return false;
    }
    if (url->kind != PoolUrl::Kind::Postgres) {
        if (url->path.isEmpty()) {
            *error = QStringLiteral("--record: \"%1\" names no file").arg(text);
            return false;
        }
        url->path = QFileInfo(url->path).absoluteFilePath();
    }
    return true;
}

QString RecordDescription(const PoolUrl &url)
{
    return QStringLiteral("production record ") + PoolUrlText(url);
}

bool CheckProductionRecord(const QString &text, bool create, QString *name, int *exitStatus,
                           QString *error, const MacPoolTimeouts &timeouts)
{
    PoolUrl url;
    if (!ParseRecordUrl(text, &url, error)) {
        *exitStatus = ExitStatus::kUsage;
        return false;
    }
    *exitStatus = ExitStatus::kFileUnusable;
    if (url.kind == PoolUrl::Kind::File) {
        *name = url.path;
        return CheckRecordWritable(url.path, error);
    }
    *name = PoolUrlText(url);
    if (url.kind == PoolUrl::Kind::Sqlite && !create && !QFileInfo::exists(url.path)) {
        // --check creates nothing: the run would make the file with its schema.
        if (CheckRecordWritable(url.path, error))
            return true;
        *error = RecordDescription(url) + QStringLiteral(": its folder cannot be written");
        return false;
    }
    MacPoolDatabase database(url, timeouts);
    database.DescribeAs(QStringLiteral("production record"));
    return database.CreateIfMissing(error) && database.CheckRecord(error);
}

std::unique_ptr<ProductionRecord> OpenProductionRecord(const QString &text, QString *error,
                                                       const MacPoolTimeouts &timeouts)
{
    PoolUrl url;
    if (!ParseRecordUrl(text, &url, error))
        return nullptr;
    if (url.kind != PoolUrl::Kind::File)
        return std::make_unique<DatabaseProductionRecord>(url, timeouts);
    RecordFile file;
    if (!file.Open(url.path, error))
        return nullptr;
    return std::make_unique<FileProductionRecord>(file, url.path);
}
