package probe;

import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;

/**
 * The application of the native tests against a real JVM. The first argument names what to do;
 * results go to the file named by the system property probe.result.
 */
public final class Probe {
    private static volatile boolean stopped;

    private Probe() {
    }

    static void record(String line) {
        String file = System.getProperty("probe.result");
        try (FileOutputStream out = new FileOutputStream(file, true)) {
            out.write((line + "\n").getBytes(StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    public static void main(String[] args) throws Exception {
        StringBuilder all = new StringBuilder("args");
        for (String arg : args) {
            all.append(" [").append(arg).append(']');
        }
        record(all.toString());
        record("thread " + Thread.currentThread().getName());
        String action = args.length > 0 ? args[0] : "none";
        switch (action) {
            case "properties":
                for (String key : new String[] {"user.dir", "korvane.exe.path", "korvane.csidl.appdata", "korvane.test"}) {
                    record("property " + key + "=" + System.getProperty(key));
                }
                break;
            case "print":
                System.out.println("to System.out");
                System.err.println("to System.err");
                break;
            case "throw":
                throw new IllegalStateException("boom from main");
            case "exit":
                System.exit(Integer.parseInt(args[1]));
                break;
            case "thread":
                Thread worker = new Thread(() -> {
                    try {
                        Thread.sleep(Long.parseLong(args[1]));
                    } catch (InterruptedException e) {
                        return;
                    }
                    record("worker done");
                });
                worker.start();
                record("main returns");
                break;
            case "wait-stop":
                record("waiting");
                while (!stopped) {
                    Thread.sleep(10);
                }
                record("stopped");
                break;
            case "stop":
                stopped = true;
                break;
            default:
                break;
        }
    }
}
