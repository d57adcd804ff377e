// Cell parameters by name: the script's set and get commands name one parameter of the cell in
// practical units (`zonnecel`: µm, cm/s, cm^-3, cm^2, eV ...) by a dotted name such as
// layer2.defect1.Ntotal, contact.left.sn or interface1.IFdefect1.Et.
//
// Use: split the argument at its full stops (at most four parts), locate the parameter with
// `ArgumentToCellParameter`, then
//   set: look at `valueKind`: evaluate the rest of the line as a number (kNumber), pass the
//        rest as text (kText: a keyword such as "gauss", or a file name), or pass nothing
//        (kNone: the name itself says what to do, as in contact.left.flat.on), and call
//        `SetValueToCellparameter`;
//   get: `CellparameterToGetVariable` gives the number to store into the target.
// On failure each function fills `CellParameterError` with the title and text to report
// through the error routine, and changes nothing.
//
// Names (keywords are matched as prefixes of the written word, without regard to case, in
// the order listed; the first match wins; numbers follow the word directly and count from 1):
//   contact.{l|r}.{sn|sp|work|flat[.off|on|always|first]|optical[.off|on|trans|refl|value|file]}
//   layerN.{defectM.… | metadefectM.… | composition[.file] | thickness | Eg | chi | epsilon | NC |
//           NV | vthn | vthp | mun | mup | NA | ND | radiative | Augern | Augerp |
//           absorption.{A|B|file}[.pureA|pureB]}
//   layerN.defectM.{singlelevel|uniform|gauss|CBtail|VBtail|energydistribution|neutral|
//           singledonor|doubledonor|singleacceptor|doubleacceptor|amphoteric|chargetype|
//           aboveEV|belowEC|aboveEi|referencelevel|Et[.levelK]|Echar|Ntotal|Npeak|
//           sigman[.levelK]|sigmap[.levelK]}
//   layerN.metadefectM.{allowmeta|aboveEV|belowEC|aboveEi|referencelevel|E_TR|E_EC|E_EE|E_HC|
//           E_HE|Ntotal}
//   interfaceN.{IBtunneling[.off|on|me|mh] | IFdefectM.…}
//   interfaceN.IFdefectM.{singlelevel|uniform|gauss|CBtail|VBtail|energydistribution|neutral|
//           singledonor|singleacceptor|chargetype|aboveHighestEV|aboveEVLEFT|belowLowestEC|
//           aboveEiLeft|aboveEiRight|referencelevel|Et|Echar|Ntotal|Npeak|
//           tunneling[.off|on|me|mh]|sigmanleft|sigmanright|sigmapleft|sigmapright}
// A graded property (the layer's material properties and doping, the defect densities) named
// alone gets one value throughout the layer (the uniform law), and get gives its value at the
// left side (given over the position) or of pure A material (given over the composition); a
// last part pureA, pureB (properties given over the composition) or left, right (properties
// given over the position) names one of its values and keeps the law. A switch named alone
// (flat, optical, IBtunneling, tunneling, allowmeta) takes 0 (off) or 1 (on). Keyword values
// (energydistribution, chargetype, referencelevel) may also be written as their code.
// Side effects: a work function switches the flat-band condition off; a filter value or file
// selects that kind of filter; an absorption constant or file selects that absorption model of
// the material; the energy distribution and its width set the peak-to-total ratio of every
// level; the charge type sets the number of levels and their transitions; a metastable
// transition is switched on only in a layer with two bulk defects, which become its two
// configurations unless two valid ones were chosen already.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "celldef/cell_definition.hpp"

namespace zoniq {

// The dotted name split at its full stops; absent parts are empty.
struct CellParameterName {
  std::array<std::string_view, 4> part{};
  // The parts joined again with full stops (for messages).
  std::string Dotted() const;
};

// What the set command must hand over as the value.
enum class CellValueKind {
  kNumber,  // a number (any value form of the script)
  kText,    // the rest of the line as text: a keyword (or its code as an integer) or a file name
  kNone     // nothing: the name says it all
};

// Every quantity that can be named.
enum class CellQuantity {
  // contact
  kSn,
  kSp,
  kWorkFunction,
  kFlatband,     // state: 0 off, 1 on; without a state a number 0/1
  kRecalculate,  // state: 1 always, 0 first
  kFilterOn,     // state: 0 off, 1 on; without a state a number 0/1
  kFilterKind,   // state: 1 transmission, 0 reflection
  kFilterValue,
  kFilterFile,
  // layer
  kThickness,
  kEg,
  kChi,
  kEpsilon,
  kNC,
  kNV,
  kVthn,
  kVthp,
  kMun,
  kMup,
  kNA,
  kND,
  kRadiative,
  kAugern,
  kAugerp,
  kComposition,
  kCompositionFile,
  kAbsorptionA,
  kAbsorptionB,
  kAbsorptionFile,
  // bulk defect
  kDistribution,  // state: the energy distribution code; without a state a keyword
  kChargeType,    // state: the defect type code; without a state a keyword
  kReference,     // state: 0 above EV, 1 above Ei, 2 below EC; without a state a keyword
  kEt,
  kEchar,
  kNtotal,
  kNpeak,
  kSigmaN,
  kSigmaP,
  // metastable transition
  kMetaAllow,
  kMetaReference,  // as kReference
  kMetaE_TR,
  kMetaE_EC,
  kMetaE_EE,
  kMetaE_HC,
  kMetaE_HE,
  kMetaNtotal,
  // interface
  kIBTunneling,  // state: 0 off, 1 on; without a state a number 0/1
  kIBMe,
  kIBMh,
  // interface defect
  kIFDistribution,
  kIFChargeType,
  kIFReference,  // codes 3 to 7
  kIFEt,
  kIFEchar,
  kIFNtotal,
  kIFNpeak,
  kIFTunneling,  // state: 0 off, 1 on; without a state a number 0/1
  kIFMe,
  kIFMh,
  kIFSigmaNLeft,
  kIFSigmaNRight,
  kIFSigmaPLeft,
  kIFSigmaPRight
};

// Which value of a graded property, or which material of an absorption constant.
enum class CellPart { kWhole, kPureA, kPureB, kLeft, kRight };

// One located parameter. Indices count from 0.
struct CellParameter {
  CellQuantity quantity = CellQuantity::kThickness;
  CellValueKind valueKind = CellValueKind::kNumber;
  int contact = 0;     // 0 left, 1 right
  int layer = -1;      // layer index
  int interface = -1;  // interface index
  int defect = -1;     // bulk defect, metastable transition or interface defect index
  int level = 0;       // level of a bulk defect (Et, sigman, sigmap)
  CellPart part = CellPart::kWhole;
  int state = -1;          // the state that the name sets (kNone forms); -1 when none
  const char* title = "";  // error title of the name's family, for value errors
};

struct CellParameterError {
  std::string title;
  std::string text;
};

// The value of a set command: the evaluated number (kNumber) or the text of the rest (kText).
struct CellValue {
  double number = 0.0;
  std::string_view text;
};

// Locate a parameter from its dotted name; `line` is the script line (for messages). Returns
// true and fills `out`, or returns false and fills `error`.
bool ArgumentToCellParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                             CellParameter& out, CellParameterError& error);
// The families, each given the whole name (part 0 is "contact", "layerN" or "interfaceN").
bool ArgumentToContactParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                                CellParameter& out, CellParameterError& error);
bool ArgumentToLayerParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                              CellParameter& out, CellParameterError& error);
// Parts 2 and 3 of the name ("defectM", the quantity, its option); `out.layer` must be set.
bool ArgumentToDefectParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                               CellParameter& out, CellParameterError& error);
bool ArgumentToMetaDefectParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                                   CellParameter& out, CellParameterError& error);
bool ArgumentToInterfaceParameter(const CellDefinition& cell, const CellParameterName& name, std::string_view line,
                                  CellParameter& out, CellParameterError& error);

// Store a value (practical units) into the cell, with the side effects that keep the cell
// consistent. Returns false, with the message in `error`, when the value is not acceptable;
// the cell is then unchanged.
bool SetValueToCellparameter(CellDefinition& cell, const CellParameter& p, const CellValue& value,
                             std::string_view line, CellParameterError& error);

// The number that the get command stores: the parameter's value (practical units), a code
// (energy distribution, charge type, reference), for a named state 1 when the cell is in that
// state and 0 otherwise, for a file form 1 when the file is in use and 0 otherwise.
bool CellparameterToGetVariable(const CellDefinition& cell, const CellParameter& p, double& number,
                                std::string_view line, CellParameterError& error);

// The number that follows a keyword directly in a parameter name ("layer2" -> 2): digits only,
// with an optional sign; missing or malformed reads as 0, a huge one saturates at the largest int.
long long NumberAfter(std::string_view word, std::size_t keywordLength);

}  // namespace zoniq
