
export default class MireboWindowsExtension extends Extension {
    enable() {
        this._service = new WindowListService(this.path);
        this._service.enable();
    }

    disable() {
        this._service?.disable();
        this._service = null;
    }
}
