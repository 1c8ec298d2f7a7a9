// The comparison fill done with Apache POI HSSF: per file open the template,
// write the same cells as strings, save as .XLS. Prints "name nanoseconds".
import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

import org.apache.poi.hssf.usermodel.HSSFCell;
import org.apache.poi.hssf.usermodel.HSSFRow;
import org.apache.poi.hssf.usermodel.HSSFSheet;
import org.apache.poi.hssf.usermodel.HSSFWorkbook;

public class Fill {
  static final Charset CP1252 = Charset.forName("windows-1252");

  public static void main(String[] args) throws Exception {
    if (args.length < 3) {
      System.err.println("usage: Fill TEMPLATE OUTDIR IMPORTFILE...");
      System.exit(2);
    }
    File template = new File(args[0]);
    File outDir = new File(args[1]);
    for (int i = 2; i < args.length; i++) {
      File in = new File(args[i]);
      String name = in.getName();
      String base = name.length() >= 4 ? name.substring(0, name.length() - 4) : name;
      long t0 = System.nanoTime();
      fill(template, in, new File(outDir, base + ".XLS"));
      System.out.println(name + " " + (System.nanoTime() - t0));
    }
  }

  // Fields split at ';', each losing its first and last character (the quotes).
  static List<String> fields(String line) {
    List<String> out = new ArrayList<>();
    for (String f : line.split(";", -1)) {
      if (f.isEmpty()) break;
      out.add(f.length() >= 2 ? f.substring(1, f.length() - 1) : "");
    }
    return out;
  }

  static void put(HSSFSheet sheet, int row, int col, String value) {
    HSSFRow r = sheet.getRow(row - 1);
    if (r == null) r = sheet.createRow(row - 1);
    HSSFCell c = r.getCell(col - 1);
    if (c == null) c = r.createCell(col - 1);
    c.setCellValue(value);
  }

  static void fill(File template, File in, File out) throws Exception {
    String text = new String(Files.readAllBytes(in.toPath()), CP1252);
    String[] lines = text.split("\r\n|\r");
    List<String> head = fields(lines[0]);
    Map<String, Integer> index = new HashMap<>();
    for (int k = 0; k < head.size(); k++) index.put(head.get(k).toUpperCase(Locale.ROOT), k);
    List<List<String>> data = new ArrayList<>();
    for (int i = 1; i < lines.length; i++) data.add(fields(lines[i]));
    Integer zname = index.get("ZNAME");
    String drawing = data.get(0).get(zname);

    HSSFWorkbook wb;
    try (InputStream is = new FileInputStream(template)) {
      wb = new HSSFWorkbook(is);
    }
    int sheet = 1;
    int row = 11;
    title(wb.getSheetAt(0), index, data.get(0), drawing);
    for (int i = 0; i < data.size(); i++) {
      List<String> d = data.get(i);
      HSSFSheet s = wb.getSheetAt(sheet - 1);
      for (int n = 1; n <= 50; n++) {
        Integer k = index.get(Integer.toString(n));
        if (k != null && k < d.size()) put(s, row, 4 + n, d.get(k));
      }
      Integer g = index.get("GERAET"), b = index.get("GERBEZ"), m = index.get("GERBEM");
      if (b != null) put(s, row, 2, (g != null ? d.get(g) : "") + "-" + d.get(b));
      if (m != null) put(s, row, 55, d.get(m));
      if (row == 28) {
        if (i + 1 == data.size() || sheet == 5) break;
        sheet++;
        row = 12;
        // As skov-import does: the new sheet's title block from its first line.
        title(wb.getSheetAt(sheet - 1), index, data.get(i + 1), drawing);
      } else {
        row++;
      }
    }
    for (int k = 1; k <= sheet; k++) put(wb.getSheetAt(k - 1), 33, 56, " " + (sheet + 1));
    wb.setActiveSheet(0);
    try (OutputStream os = new FileOutputStream(out)) {
      wb.write(os);
    }
    wb.close();
  }

  static void title(HSSFSheet s, Map<String, Integer> index, List<String> d, String drawing) {
    String[][] keys = {{"PROJEKT1", "31", "22"}, {"PROJEKT2", "32", "22"}, {"PROJEKT3", "33", "22"},
        {"INFO1", "31", "42"}, {"DWGNME", "33", "42"}, {"GEWERK1", "30", "55"}, {"ANLAGE1", "31", "55"}};
    for (String[] key : keys) {
      Integer k = index.get(key[0]);
      if (k == null) continue;
      put(s, Integer.parseInt(key[1]), Integer.parseInt(key[2]), key[0].equals("DWGNME") ? drawing : d.get(k));
    }
  }
}
