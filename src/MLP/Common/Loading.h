// Loading a network file and a data set file the way both programs report them, and the checks
// that a data set fits a network and that a network can be trained. Every failure is thrown:
// a file that cannot be opened (with the system's reason) or read as FileTools::Error, a data set
// or network that does not fit as TException ("Bad Parameter", "TrainingRun::CheckFit"). The
// messages name the files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "MLP/Common/ParameterFile.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// What a data set file is to the program reading it: the trainer's "training file" or the tool's
// "data set file". It only changes how messages name the file.
enum class DataSetRole { Training, Input };

// A network holding a weight or gain that is not a finite number is refused as a file error
// "Network file NAME, weight From = F, To = T (layer A to layer B): nan is not a finite number"
// (or "..., gain of neuron N in layer L: ..."): it would make every output and error nan.
std::unique_ptr<TBasicNetwork> LoadNetwork(FileTools& tools, const std::string& name);

// The first data set of the file; a second data set (generated outputs and errors) is ignored.
std::unique_ptr<Data> LoadDataSet(FileTools& tools, const std::string& name, DataSetRole role);
// The same with only the rows `select` names (FileTools::LoadDataSetRows); fileRows receives the
// row count of the file's header. A selection of no rows gives an empty data set, not an error.
std::unique_ptr<Data> LoadDataSetRows(FileTools& tools, const std::string& name, DataSetRole role,
                                      const FileTools::TRowSelector& select,
                                      std::int32_t& fileRows);

// The first input or expected output of the data set that is not a finite number, as the
// message "Training file NAME, row R, column C: VALUE is not a finite number" ("Data set file"
// for the Input role); empty when every value is finite. Rows count from 1 in file order, columns
// from 1 over the row as the file gives it: the inputs, then the expected outputs.
// fileRows, when given, holds each held row's position in the file (from 0): the message then
// names that row.
// badRow, when given, receives the row the message names, from 0 (-1 when none).
std::string FindNonFinite(const Data& data, const std::string& name, DataSetRole role,
                          const std::vector<int>* fileRows = nullptr, int* badRow = nullptr);

// The expected outputs of a data set that the output layer's function cannot produce, as one
// message naming the files, the lowest and highest expected output and the function's range;
// empty when they all lie within the range's closure (a target of exactly 0 or 1 for a sigmoid
// output is the usual class target, not a fault) or the function's range is not known. For a
// network that passed CheckTrainable.
std::string FindUnreachableTargets(const Data& data, const TBasicNetwork& network,
                                   const TrainSettings& settings);

// The lowest and highest expected output of a data set (low > high when it holds none), and the
// message FindUnreachableTargets gives for that range: so that processes each holding some of
// the rows can combine their ranges first.
struct TargetRange {
    double low = 0.0;
    double high = 0.0;
};
TargetRange FindTargetRange(const Data& data);
std::string UnreachableTargetsMessage(const TargetRange& targets, const TBasicNetwork& network,
                                      const TrainSettings& settings);

struct FitCheck {
    DataSetRole role = DataSetRole::Training;
    std::string dataFile;
    std::string networkFile;
    int selectedFeatures = 0;     // number of selected input columns; 0 = all
    bool outputsRequired = true;  // false: a data set without expected outputs fits too
    int fileRows = -1;            // the file's rows when the data set holds a share; -1: its own
};

// Every condition under which the network could not take the data set's rows: no rows, inputs
// or expected outputs per row that differ from the input or output layer.
void CheckFit(const Data& data, const TBasicNetwork& network, const FitCheck& check);

// The trainer turns a layer's errors into deltas with the one activation function all its
// neurons share, and passes them down only through a function it knows the derivative of.
void CheckTrainable(TBasicNetwork& network, const std::string& networkFile);

// What the training run does with a loaded network and data set before the first epoch: installs
// the settings' feature selection, then CheckFit and CheckTrainable.
// fileRows as in FitCheck.
void PrepareForTraining(Data& data, TBasicNetwork& network, const TrainSettings& settings,
                        int fileRows = -1);

}  // namespace synapsor
