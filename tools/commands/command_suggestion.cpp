#include "commands/command_suggestion.h"

#include <algorithm>

size_t EditDistance(const std::string& strA, const std::string& strB) {
  // Three rows of the table: two back are needed for a swap.
  std::vector<size_t> aBefore(strB.size() + 1), aLast(strB.size() + 1), aRow(strB.size() + 1);
  for (size_t j = 0; j <= strB.size(); ++j) aLast[j] = j;
  for (size_t i = 1; i <= strA.size(); ++i) {
    aRow[0] = i;
    for (size_t j = 1; j <= strB.size(); ++j) {
      const size_t nCost = strA[i - 1] == strB[j - 1] ? 0 : 1;
      aRow[j] = std::min({aLast[j] + 1, aRow[j - 1] + 1, aLast[j - 1] + nCost});
      if (i > 1 && j > 1 && strA[i - 1] == strB[j - 2] && strA[i - 2] == strB[j - 1]) {
        aRow[j] = std::min(aRow[j], aBefore[j - 2] + 1);
      }
    }
    aBefore.swap(aLast);
    aLast.swap(aRow);
  }
  return aLast[strB.size()];
}

std::string SuggestName(const std::string& strWord, const std::vector<std::string>& aNames) {
  std::string strBest;
  size_t nBest = 3;
  for (const auto& strName : aNames) {
    const size_t nDistance = EditDistance(strWord, strName);
    if (nDistance < nBest) {
      nBest = nDistance;
      strBest = strName;
    }
  }
  return strBest;
}
