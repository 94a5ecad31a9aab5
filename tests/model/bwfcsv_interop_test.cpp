// Our commercial-data record as Python's csv module reads it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bwfcsv.h"
#include "cmcdsamples.h"

TEST(CmcdCsvInterop, PythonCsvReadsTheRecordAs38Values) {
  const std::filesystem::path csv =
      std::filesystem::temp_directory_path() / ("vant-record-" + std::to_string(getpid()) + ".csv");
  std::ofstream(csv, std::ios::binary) << CmcdCsvLine(Awkward());
  const std::filesystem::path result = csv.string() + ".count";
  const std::string cmd =
      "python3 -c \"import csv,sys; rows=list(csv.reader(open(sys.argv[1], newline='', "
      "encoding='latin-1'))); print(len(rows), len(rows[0]), rows[0][37])\" '" +
      csv.string() + "' > '" + result.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(result);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "1 38 // End of Data\n");
  std::filesystem::remove(csv);
  std::filesystem::remove(result);
}
