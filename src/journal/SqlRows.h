#pragma once
// Reading a query's rows to the end, for the journal's two halves.

#include <QSqlError>
#include <QSqlQuery>

inline bool finishedCleanly(QSqlQuery& q)
{
    // next() returns false both at the end and on an error half way: only
    // the error tells the two apart.
    return !q.lastError().isValid();
}
