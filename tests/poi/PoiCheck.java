// Opens each .xls with Apache POI HSSF, reads every cell, saves it and reads the copy back the same.
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.FileInputStream;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.List;

import org.apache.poi.hssf.usermodel.HSSFWorkbook;
import org.apache.poi.ss.usermodel.Cell;
import org.apache.poi.ss.usermodel.DataFormatter;
import org.apache.poi.ss.usermodel.Row;
import org.apache.poi.ss.usermodel.Sheet;

public final class PoiCheck {
  // Every cell as "sheet!row,col type value", in sheet, row and column order.
  static List<String> cells(HSSFWorkbook book) {
    List<String> out = new ArrayList<>();
    DataFormatter formatter = new DataFormatter();
    for (int s = 0; s < book.getNumberOfSheets(); s++) {
      Sheet sheet = book.getSheetAt(s);
      out.add("sheet " + sheet.getSheetName() + " hidden=" + book.isSheetHidden(s) + " merged=" +
              sheet.getNumMergedRegions());
      for (Row row : sheet) {
        for (Cell cell : row) {
          String where = s + "!" + row.getRowNum() + "," + cell.getColumnIndex() + " xf=" +
                         cell.getCellStyle().getIndex() + " ";
          switch (cell.getCellType()) {
            case STRING: out.add(where + "text " + cell.getRichStringCellValue().getString()); break;
            case NUMERIC: out.add(where + "number " + cell.getNumericCellValue()); break;
            case BOOLEAN: out.add(where + "bool " + cell.getBooleanCellValue()); break;
            case ERROR: out.add(where + "error " + cell.getErrorCellValue()); break;
            case BLANK: out.add(where + "blank"); break;
            case FORMULA: out.add(where + "formula " + cell.getCellFormula() + " cached " +
                                  cell.getCachedFormulaResultType()); break;
            default: out.add(where + "?" + cell.getCellType());
          }
          formatter.formatCellValue(cell);  // the cell's number format must resolve too
        }
      }
    }
    return out;
  }

  static String check(String path) throws Exception {
    List<String> first;
    byte[] saved;
    try (InputStream in = new FileInputStream(path); HSSFWorkbook book = new HSSFWorkbook(in)) {
      first = cells(book);
      ByteArrayOutputStream out = new ByteArrayOutputStream();
      book.write(out);
      saved = out.toByteArray();
    }
    try (HSSFWorkbook again = new HSSFWorkbook(new ByteArrayInputStream(saved))) {
      List<String> second = cells(again);
      if (!second.equals(first)) {
        for (int i = 0; i < Math.min(first.size(), second.size()); i++) {
          if (!first.get(i).equals(second.get(i))) {
            return "saved copy differs: " + first.get(i) + " / " + second.get(i);
          }
        }
        return "saved copy has " + second.size() + " entries, the file " + first.size();
      }
    }
    return "ok, " + first.size() + " sheets and cells read, saved and read back";
  }

  public static void main(String[] args) {
    int failures = 0;
    for (String path : args) {
      try {
        String result = check(path);
        System.out.println(path + ": " + result);
        if (!result.startsWith("ok")) failures++;
      } catch (Throwable e) {
        failures++;
        System.out.println(path + ": FAIL " + e);
        StackTraceElement[] trace = e.getStackTrace();
        for (int i = 0; i < Math.min(4, trace.length); i++) System.out.println("    at " + trace[i]);
      }
    }
    System.exit(failures == 0 ? 0 : 1);
  }
}
