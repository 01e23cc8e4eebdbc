#pragma once
// SqlTransaction: one transaction on a QtSql connection that cannot be left
// open. It begins when it is made; commit() ends it, and if the object goes
// out of scope first (an early return on an error) it rolls back.
//
// Declare it before the queries that run inside it: they are then destroyed
// first, and no statement is still running when the transaction ends.
//
// Thread: the connection's.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <utility>

class SqlTransaction {
public:
    // beginStatement is "BEGIN" or a variant such as "BEGIN IMMEDIATE".
    explicit SqlTransaction(QSqlDatabase db, const QString& beginStatement = QStringLiteral("BEGIN"))
        : m_db(std::move(db))
    {
        QSqlQuery q(m_db);
        m_active = q.exec(beginStatement);
        if (!m_active)
            m_error = q.lastError();
    }

    ~SqlTransaction()
    {
        if (m_active)
            QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    }

    SqlTransaction(SqlTransaction&& other)
        : m_db(other.m_db), m_error(other.m_error), m_active(std::exchange(other.m_active, false))
    {
    }
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;
    SqlTransaction& operator=(SqlTransaction&&) = delete;

    // The transaction began and is neither committed nor rolled back.
    bool isActive() const { return m_active; }

    // False with lastError() set when the commit fails; the transaction is
    // then still open and rolls back when the object goes.
    bool commit()
    {
        if (!m_active)
            return false;
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("COMMIT"))) {
            m_error = q.lastError();
            return false;
        }
        m_active = false;
        return true;
    }

    // Why the begin or the last commit failed.
    const QSqlError& lastError() const { return m_error; }

private:
    QSqlDatabase m_db;
    QSqlError m_error;
    bool m_active = false;
};
