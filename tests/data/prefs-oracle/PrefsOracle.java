// The independent implementation of the preferences export format that the settings commands are checked against:
// java.util.prefs, which validates an import against the format's document type.
//   import FILE        imports FILE and prints the entries of /com/corvane/Tavlo as key=value lines
//   export FILE K=V... stores the entries under /com/corvane/Tavlo and exports that subtree to FILE
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.util.Arrays;
import java.util.prefs.Preferences;

public class PrefsOracle {
    public static void main(String[] args) throws Exception {
        Preferences node = Preferences.userRoot().node("/com/corvane/Tavlo");
        if (args[0].equals("import")) {
            try (InputStream in = new FileInputStream(args[1])) {
                Preferences.importPreferences(in);
            }
            String[] keys = node.keys();
            Arrays.sort(keys);
            for (String key : keys)
                System.out.println(key + "=" + node.get(key, ""));
        } else {
            for (int i = 2; i < args.length; ++i) {
                int at = args[i].indexOf('=');
                node.put(args[i].substring(0, at), args[i].substring(at + 1));
            }
            node.flush();
            try (OutputStream out = new FileOutputStream(args[1])) {
                node.exportSubtree(out);
            }
        }
    }
}
