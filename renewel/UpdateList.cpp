#include "UpdateList.h"

#include "LineReader.h"

void ReadUpdateList(const QString& fileName, QList<QByteArray>& list)
{
    LineReader reader(fileName);
    reader.readLine();
    list.clear();
    while (!reader.atEnd()) {
        list << reader.readLine();
        list << reader.readLine();
    }
}
