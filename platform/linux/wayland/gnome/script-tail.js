
class Extension {
    constructor(meta) {
        this._service = new WindowListService(meta.path);
    }

    enable() {
        this._service.enable();
    }

    disable() {
        this._service.disable();
    }
}

function init(meta) {
    return new Extension(meta);
}
