#include "entitymodel.h"

EntityModel::EntityModel(QObject *parent)
    : QAbstractListModel(parent)
{ }
