// window.external for pages served by the loopback bridge: a Proxy that
// turns method calls, property access and callbacks into requests to the
// installer. The installer puts its configuration (token, page session,
// method flags) in place of the config placeholder before it hands the
// script out.
(function () {
  "use strict";
  var config = __CONFIG__;
  // Taken now: page libraries may replace or extend them later.
  var Request = window.XMLHttpRequest, Events = window.EventSource, ProxyType = window.Proxy;
  var stringify = JSON.stringify, parse = JSON.parse;
  var hasOwn = Object.prototype.hasOwnProperty, slice = Array.prototype.slice;
  var base = "/" + config.token + "/bridge/";
  var methods = config.methods;
  var callbacks = {};
  var nextCallback = 1;

  function encode(value) {
    switch (typeof value) {
      case "undefined": return { t: "empty" };
      case "number":
        return (Number.isInteger(value) && value >= -2147483648 && value <= 2147483647)
          ? { t: "i4", v: value } : { t: "r8", v: value };
      case "string": return { t: "bstr", v: value };
      case "boolean": return { t: "bool", v: value };
      case "function":
        var id = nextCallback++;
        callbacks[id] = value;
        return { t: "dispatch", id: id };
      default:
        if (value === null) return { t: "null" };
        return { t: "bstr", v: String(value) };
    }
  }

  function decode(value) {
    if (value === null || typeof value !== "object") return value;
    if (value.t === "empty") return undefined;
    if (value.t === "dispatch") return callbacks[value.id];
    return null;
  }

  function request(message) {
    message.session = config.session;
    var xhr = new Request();
    xhr.open("POST", base + "invoke", false);
    xhr.setRequestHeader("Content-Type", "application/json");
    try {
      xhr.send(stringify(message));
    } catch (gone) {
      var disconnected = new Error("window.external: the installer has gone");
      disconnected.number = -2147417848;  // RPC_E_DISCONNECTED
      throw disconnected;
    }
    if (xhr.status !== 200) {
      var failure = new Error("window.external: bridge answered " + xhr.status);
      failure.number = -2147418113;  // E_UNEXPECTED
      throw failure;
    }
    var reply = parse(xhr.responseText);
    if (reply.hr < 0) {
      var error = new Error("window.external." + message.name + " failed: 0x" +
                            (reply.hr >>> 0).toString(16).toUpperCase());
      error.number = reply.hr;
      throw error;
    }
    return decode(reply.result);
  }

  function method(name) {
    return function () {
      var args = slice.call(arguments);
      for (var i = 0; i < args.length; ++i) args[i] = encode(args[i]);
      return request({ op: "call", name: name, flags: methods[name], args: args });
    };
  }

  var target = {};
  window.external = new ProxyType(target, {
    get: function (t, name) {
      if (typeof name !== "string") return undefined;
      if (hasOwn.call(methods, name)) return method(name);
      return request({ op: "get", name: name });
    },
    set: function (t, name, value) {
      if (typeof name !== "string") return false;
      request({ op: "set", name: name, args: [encode(value)] });
      return true;
    },
    deleteProperty: function (t, name) {
      if (typeof name !== "string") return false;
      request({ op: "delete", name: name });
      return true;
    },
    has: function (t, name) {
      if (typeof name !== "string") return false;
      if (hasOwn.call(methods, name)) return true;
      return request({ op: "has", name: name });
    }
  });

  var events = new Events(base + "events?session=" + config.session);
  events.onmessage = function (event) {
    var message = parse(event.data);
    var callback = callbacks[message.id];
    if (message.type === "release") {
      delete callbacks[message.id];
    } else if (callback) {
      var args = message.args || [];
      for (var i = 0; i < args.length; ++i) args[i] = decode(args[i]);
      try { callback.apply(null, args); } catch (ignored) { }
    }
  };

  function complete() { request({ op: "documentComplete" }); }
  if (document.readyState === "complete") complete();
  else window.addEventListener("load", complete);
  // Script dialogs never hold the wizard up; where the host cannot swallow
  // the engine's own, they answer at once as if cancelled.
  if (config.quietDialogs) {
    window.alert = function () { };
    window.confirm = function () { return false; };
    window.prompt = function () { return null; };
  }
})();
