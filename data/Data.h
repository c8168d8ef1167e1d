#pragma once
// The public face of data/: the data module with its connection and four
// client datasets, the client dataset itself, the catalogue statements and
// the engine loader.

#include "data/CatalogueStatements.h"
#include "data/ClientDataSet.h"
#include "data/DataModule.h"
#include "data/Engine.h"
#include "data/Params.h"
