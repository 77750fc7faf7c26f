// Data set files: a DataSet block with a header of counts (Rows, Inputs, ExpectedOutputs,
// GeneratedOutputs, Error) and a Data block of bare numbers, each row optionally ending in label
// lists. One file may hold two data sets over the same rows: inputs with expected outputs, and
// generated outputs with errors. The operations are members of FileTools (declared with the
// tokenizer in ParseTools.h); this header brings in everything a caller of them needs.
// File-level conditions come back as FileTools return codes; faults in the text are thrown as
// FileTools::Error. The writers emit exactly the layout the readers accept.
#pragma once

#include "DataObject/Data.h"
#include "DataObject/Label.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
