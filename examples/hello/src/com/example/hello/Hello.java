package com.example.hello;

import java.util.Arrays;

/** The example application: says hello and shows what its launcher handed it. */
public final class Hello {
    private Hello() {
    }

    public static void main(String[] args) {
        System.out.println("Hello from " + System.getProperty("java.vendor") + " Java "
                + System.getProperty("java.version"));
        System.out.println("Arguments: " + Arrays.toString(args));
        for (String key : new String[] {"user.dir", "korvane.exe.path", "korvane.csidl.appdata",
                "korvane.csidl.local.appdata"}) {
            System.out.println(key + " = " + System.getProperty(key));
        }
    }
}
